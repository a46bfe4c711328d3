#include "nemesis/truth_checker.h"

#include "data/memory_map.h"

#include <cstdio>

namespace velmar::test {

using sim::TruthAction;
using sim::TruthEvent;
using sim::TruthKind;

namespace {

std::string Hex(uint32_t v) {
    char s[16];
    std::snprintf(s, sizeof s, "0x%X", v);
    return s;
}

const char* ActionText(TruthAction a) {
    switch (a) {
    case TruthAction::Restart:
        return "restart";
    case TruthAction::PulseSimulator:
        return "pulse simulator";
    case TruthAction::DisplayMode:
        return "display mode";
    case TruthAction::RelayTest:
        return "relay test";
    case TruthAction::None:
        break;
    }
    return "?";
}

bool Stored(int space) {
    return space == 0 || space == 4;
}

} // namespace

bool CountingRecord(int space, uint32_t address) {
    if (space != 0) return false;
    constexpr uint32_t kStride = 0x100; // one record per channel or side
    const auto regs = static_cast<uint32_t>(addr::kChannelRegsBase);
    const auto sides = static_cast<uint32_t>(addr::kSideStateA);
    return (address >= regs && address < regs + kStride * kChannelCount) ||
           (address >= sides && address < sides + kStride * 2);
}

int TruthChecker::Actions(TruthAction action, int unit) const {
    int n = 0;
    for (const TruthEvent& e : events_)
        n += e.kind == TruthKind::Action && e.action == action && e.unit == unit ? 1 : 0;
    return n;
}

int TruthChecker::RestartsWithStatusLost(int unit) const {
    int n = 0;
    for (const TruthEvent& e : events_)
        n += e.kind == TruthKind::Action && e.action == TruthAction::Restart && e.unit == unit &&
                     e.value == 0
                 ? 1
                 : 0;
    return n;
}

int TruthChecker::Writes(int unit) const {
    int n = 0;
    for (const TruthEvent& e : events_)
        n += e.kind == TruthKind::Write && e.unit == unit && Stored(e.space) ? 1 : 0;
    return n;
}

void TruthChecker::ActionsAtMost(TruthAction action, int unit, int most) {
    const int n = Actions(action, unit);
    if (n > most)
        Add(std::string(ActionText(action)) + " carried out " + std::to_string(n) +
            " times, the sequence sends it " + std::to_string(most));
}

void TruthChecker::WritesOnly(int unit, const std::vector<MemorySpan>& allowed) {
    for (const TruthEvent& e : events_) {
        if (e.kind != TruthKind::Write || !Stored(e.space)) continue;
        if (e.unit != unit) {
            Add("controller " + std::to_string(e.number) + " (not the target) written at " +
                Hex(e.address));
            continue;
        }
        const uint32_t end = e.address + static_cast<uint32_t>(e.bytes.size());
        bool inside = false;
        for (const MemorySpan& s : allowed)
            inside = inside || (s.space == e.space && e.address >= s.first && end <= s.end);
        if (!inside)
            Add("target written outside the operation's records at " + Hex(e.address) + " (" +
                std::to_string(e.bytes.size()) + " bytes)");
    }
}

void TruthChecker::NoAppliedWriteCalledRefused(int unit, const std::string& message) {
    static const std::string kWriteError = "Ошибка записи";
    if (message.find(kWriteError) == std::string::npos) return;
    int taken = 0, applied = 0;
    for (const TruthEvent& e : events_) {
        if (e.unit != unit) continue;
        if (e.kind == TruthKind::Frame && e.request == sim::RequestKind::Write) ++taken;
        if (e.kind == TruthKind::Write ||
            (e.kind == TruthKind::Action && e.action == TruthAction::Restart))
            ++applied;
    }
    if (taken > 0 && applied >= taken)
        Add("every write the controller took was applied, yet reported: " + message);
}

void TruthChecker::ChunksOnce() {
    for (size_t i = 0; i < events_.size(); ++i) {
        const TruthEvent& first = events_[i];
        if (first.kind != TruthKind::Write || !CountingRecord(first.space, first.address)) continue;
        for (size_t k = i + 1; k < events_.size(); ++k) {
            const TruthEvent& e = events_[k];
            if (e.unit != first.unit) continue;
            // A read-back of the chunk (any read that covers its first byte) clears it.
            if (e.kind == TruthKind::Frame && e.request == sim::RequestKind::Read &&
                e.space == first.space && !e.bytes.empty() && e.address <= first.address &&
                first.address < e.address + e.bytes[0])
                break;
            if (e.kind == TruthKind::Write && e.space == first.space &&
                e.address == first.address) {
                Add("counting chunk at " + Hex(first.address) +
                    " applied again without a read-back in between");
                break;
            }
        }
    }
}

} // namespace velmar::test
