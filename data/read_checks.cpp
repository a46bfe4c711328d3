#include "data/read_checks.h"

namespace velmar {

namespace {

// Replaces an index field that is not below `count` by `fallback`.
void CheckIndex(CtrlrParams& p, const Field& f, uint32_t count, uint32_t fallback,
                const char* message, std::vector<Repair>& out) {
    const uint32_t v = p.Get(f);
    if (v < count) return;
    p.Set(f, fallback);
    out.push_back({message, f, v, fallback});
}

} // namespace

std::vector<std::string> ParamsReadCheck::Messages() const {
    std::vector<std::string> m;
    if (sizeMismatch) m.emplace_back(msg::kParamsSizeMismatch);
    for (const auto& r : repairs)
        if (!r.message.empty()) m.push_back(r.message);
    if (ksmWrong) m.emplace_back(msg::kKsmWrong);
    return m;
}

int CountNozItem(int countNozTrk) {
    return countNozTrk >= 1 && countNozTrk <= 15 ? countNozTrk - 1 : 0;
}

ParamsReadCheck CheckParamsOnRead(CtrlrParams& p) {
    ParamsReadCheck c;
    c.sizeMismatch = p.Length() != params::kUsualLength;
    // The checksum is judged on the bytes as read: a repair below must not make a sound block
    // look corrupt.
    c.ksmWrong = !p.KsmValid();

    // A field is checked only when the block reached it; beyond its length the working copy
    // keeps what it held.
    auto within = [&](const Field& f) { return f.End() <= p.Length(); };
    if (within(params::kSpeedTrk))
        CheckIndex(p, params::kSpeedTrk, 4, 3, msg::kBadSpeed, c.repairs);
    if (within(params::kSpeed2CnlTrk))
        CheckIndex(p, params::kSpeed2CnlTrk, 4, 3, msg::kBadSpeed, c.repairs);
    if (within(params::kMeterType))
        CheckIndex(p, params::kMeterType, 4, 0, msg::kBadMeterType, c.repairs);
    if (within(params::kPhaseMet))
        CheckIndex(p, params::kPhaseMet, 4, 1, msg::kBadPhaseMet, c.repairs);
    if (within(params::kTypeTbl))
        CheckIndex(p, params::kTypeTbl, 13, 0, msg::kBadTypeTbl, c.repairs);
    if (within(params::kTrkModes) && p.TrkModes() == 0xFFFF) {
        c.trkModesUnreadable = true;
        c.repairs.push_back({msg::kBadTrkModes, params::kTrkModes, 0xFFFF, 0xFFFF});
    }

    c.countNozItem = CountNozItem(p.CountNozTrk());
    // The "Север" mode serves at most two hoses, and only one when two sides are selected. An
    // unreadable mask (0xFFFF) says nothing about the mode and must not cut the hose count.
    if (within(params::kTrkModes) && !c.trkModesUnreadable &&
        (p.TrkModes() & params::kTrkModesSever) != 0) {
        const bool twoSides = p.CountSideTrk() == 2;
        if (c.countNozItem > 1 || (c.countNozItem == 1 && twoSides)) {
            c.repairs.push_back({"", params::kCountNozTrk, p.CountNozTrk(), 1});
            p.SetCountNozTrk(1);
            c.countNozItem = 0;
        }
    }

    if (c.ksmWrong || !c.repairs.empty()) p.UpdateKsm();
    return c;
}

std::vector<Repair> CheckRegsOnRead(ChannelRegs& r) {
    std::vector<Repair> out;
    if (r.BitStat() == regs::kBitStatUnreadable) {
        out.push_back({msg::kBadBitStat, regs::kBitStat, 0xFFFF, 0});
        r.SetBitStat(0);
    }
    return out;
}

std::vector<Repair> CheckSettsOnRead(ChannelSetts& s) {
    std::vector<Repair> out;
    if (s.MeterPhase() >= setts::kPhaseCount) {
        out.push_back({msg::kBadChannelPhase, setts::kMeterPhase, s.MeterPhase(), 0});
        s.SetMeterPhase(0);
    }
    return out;
}

} // namespace velmar
