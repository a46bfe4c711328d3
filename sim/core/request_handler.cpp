#include "sim/core/request_handler.h"

#include "sim/core/bus_simulator.h"
#include "sim/core/controller_layout.h"

#include <algorithm>

namespace velmar::sim {

namespace L = layout;

namespace {

constexpr uint8_t kPollCode = 0x21;
constexpr uint8_t kStatusAccepted = 0x00;
constexpr uint8_t kStatusRefused = 0x02; // target outside memory or not a known command
constexpr int kMaxCount = 64;            // the controller's buffer, both directions

bool KnownSpace(int space) {
    return space == 0 || space == 2 || space == 4;
}

Reply Poll(const Controller& c, const Request& req, const Faults& faults) {
    // At the reserve address the controller names itself by its side-A number; otherwise it
    // repeats the number it was called by.
    const int own = req.lineAddress == kReserveAddressByte ? c.SideAAddress() : req.lineAddress;
    Reply r;
    r.bytes = {static_cast<uint8_t>(own),
               static_cast<uint8_t>(faults.wrongPollEcho ? kPollCode + 1 : kPollCode), 0x00};
    r.bytes.push_back(SimChecksum(r.bytes.data(), r.bytes.size()));
    return r;
}

std::optional<Reply> Ident(const Controller& c, const Faults& faults) {
    if (faults.noIdentAnswer) return std::nullopt;
    Reply r;
    r.bytes.assign(c.identText.begin(), c.identText.end());
    if (!faults.identWithoutZero) r.bytes.push_back(0x00);
    return r;
}

std::optional<Reply> Read(Controller& c, const Request& req, const Faults& faults) {
    if (!KnownSpace(req.Space()) || req.count < 1 || req.count > kMaxCount) return std::nullopt;
    const auto& mem = c.Space(req.Space());
    Reply r;
    for (int i = 0; i < req.count; ++i) {
        const uint32_t a = req.address + static_cast<uint32_t>(i);
        r.bytes.push_back(a < L::kSpaceSize ? mem[a] : 0x00); // nothing lives above 64 KiB
    }
    uint8_t sum = 0;
    for (uint8_t b : r.bytes) sum = static_cast<uint8_t>(sum + b);
    const uint8_t checksum = SimChecksum(r.bytes.data(), r.bytes.size());
    if (faults.trailerVaries) {
        // A counter that steps each reply, kept off the checksum.
        c.trailerCounter = static_cast<uint8_t>(c.trailerCounter % 255 + 1);
        r.bytes.push_back(static_cast<uint8_t>(checksum ^ c.trailerCounter));
    } else {
        r.bytes.push_back(faults.trailerNotChecksum ? sum : checksum);
    }
    return r;
}

// Stores a write into the live registers: the status byte takes only the pulse-simulator bit
// (the other bits are the controller's own), and the sensor reading at 0x25..0x27 is not memory:
// writes there set the display mode and test the heating relay.
void StoreLive(Controller& c, uint32_t a, uint8_t v) {
    auto& ir = c.Space(2);
    if (a == L::kStatusReg) {
        ir[a] =
            static_cast<uint8_t>((ir[a] & ~L::kPulseSimulatorBit) | (v & L::kPulseSimulatorBit));
    } else if (a == L::kDisplayModeReg) {
        c.displayMode = v;
    } else if (a == L::kRelayTestReg) {
        if (v == 1) ++c.relayTests;
    } else if (a != L::kTempAdcReg + 1) {
        ir[a] = v;
    }
}

std::optional<Reply> Write(Controller& c, const Request& req, const Faults& faults) {
    if (!KnownSpace(req.Space()) || req.count < 1 || req.count > kMaxCount ||
        req.data.size() != static_cast<size_t>(req.count))
        return std::nullopt;
    const uint32_t first = req.address;
    const uint32_t end = req.address + static_cast<uint32_t>(req.count);
    Reply r;
    uint8_t status = kStatusAccepted;
    if (faults.writeStatusAddress >= 0 &&
        static_cast<uint32_t>(faults.writeStatusAddress) >= first &&
        static_cast<uint32_t>(faults.writeStatusAddress) < end) {
        status = faults.writeStatus;
    } else if (c.sealedAddress >= 0 && static_cast<uint32_t>(c.sealedAddress) >= first &&
               static_cast<uint32_t>(c.sealedAddress) < end && end <= L::kSpaceSize &&
               !std::equal(req.data.begin(), req.data.end(),
                           c.Space(req.Space()).begin() + first)) {
        status = faults.writeStatus;
    } else if (first == L::kRestartTarget) {
        if (req.Space() == 0 && req.count == 1 && req.data[0] == 0x01) {
            r.restart = true;
        } else
            status = kStatusRefused;
    } else if (end > L::kSpaceSize) {
        status = kStatusRefused;
    } else if (req.Space() == 2) {
        for (int i = 0; i < req.count; ++i)
            StoreLive(c, first + static_cast<uint32_t>(i), req.data[i]);
    } else {
        auto& mem = c.Space(req.Space());
        std::copy(req.data.begin(), req.data.end(), mem.begin() + first);
    }
    // A one-byte write is answered with two bytes; the status is always the last.
    if (req.count == 1) r.bytes.push_back(0x00);
    r.bytes.push_back(status);
    return r;
}

} // namespace

namespace {

std::optional<Reply> Serve(Controller& c, const Request& req, const Faults& faults) {
    switch (req.kind) {
    case RequestKind::Poll:
        return Poll(c, req, faults);
    case RequestKind::Ident:
        return Ident(c, faults);
    case RequestKind::Read:
        if (faults.mutedReadController >= 0 && c.AnswersAt(faults.mutedReadController) &&
            req.address == static_cast<uint32_t>(faults.mutedReadAddress))
            return std::nullopt;
        return Read(c, req, faults);
    case RequestKind::Write:
        return Write(c, req, faults);
    }
    return std::nullopt;
}

} // namespace

std::optional<Reply> HandleRequest(Controller& c, const Request& req, const Faults& faults) {
    auto reply = Serve(c, req, faults);
    if (reply && faults.countingAddress >= 0 &&
        faults.countingAddress < static_cast<int>(L::kSpaceSize))
        ++c.Space(0)[static_cast<size_t>(faults.countingAddress)];
    return reply;
}

} // namespace velmar::sim
