// Fixed service exchanges: address poll, restart, pulse simulator, temperature sensor, sizes.
#include "protocol/ctrlr_protocol.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <array>
#include <cstring>

namespace velmar {

namespace {

constexpr uint8_t kPollCmd = 0x21;
constexpr uint8_t kPulseSimulatorBit = 0x40;

} // namespace

int PollCtrlrAddress(PortSlot slot, int ctrl, uint8_t reply[4], int& ctrlrNumber) {
    // The command frame purges first: stray bytes of an earlier exchange (for instance the tail
    // of a longer reply, which the exchanges no longer wait for) would otherwise be taken as this
    // reply.
    SendCtrlrCmd(slot, ctrl, kPollCmd);

    const int n = detail::AwaitAtLeast(slot, 4, Timeouts(slot).addressPollMs);
    if (n < 4) return -1;
    std::array<uint8_t, 256> got{};
    if (ReadPort(slot, got.data(), n) != 1) return -1;
    if (ChecksumRot8(got.data(), 3) != got[3]) return -2;
    // At the reserve address the answering controller's number counts even when the echo is
    // wrong: it tells which controller is there.
    if ((ctrl & 0xFF) == kReserveAddress) ctrlrNumber = got[0];
    if (got[1] != kPollCmd) return -2;
    std::memcpy(reply, got.data(), 4);
    ctrlrNumber = got[0];
    return 1;
}

int RestartCtrlr(PortSlot slot, int ctrl) {
    const uint8_t request = 0x01;
    return WriteCtrlrMem(slot, ctrl, service::kRestart, 1, &request, kSpaceER) == 1 ? 1 : -1;
}

int GetPulseSimulator(PortSlot slot, int ctrl) {
    uint8_t status = 0;
    if (ReadCtrlrMem(slot, ctrl, service::kStatusIR, 1, &status, kSpaceIR) < 1) return -1;
    return (status & kPulseSimulatorBit) != 0 ? 1 : 0;
}

int SetPulseSimulator(PortSlot slot, int ctrl, bool on) {
    if (slot > kMaxTransactionSlot) return -3;
    // The other bits of the status byte are not the tool's to keep: it writes the switch alone.
    const uint8_t status = on ? kPulseSimulatorBit : 0;
    return WriteCtrlrMem(slot, ctrl, service::kStatusIR, 1, &status, kSpaceIR) == 1 ? 1 : -1;
}

bool ReadTempAdc(PortSlot slot, int ctrl, uint8_t out[3]) {
    return ReadCtrlrMem(slot, ctrl, service::kTempAdcIR, 3, out, kSpaceIR) > 0;
}

int ReadStructSizes(PortSlot slot, int ctrl, uint8_t sizes[service::kSizesLength]) {
    if (ReadCtrlrMem(slot, ctrl, service::kSizes, service::kSizesLength, sizes, kSpaceER) ==
        service::kSizesLength)
        return 1;
    std::memset(sizes, 0, service::kSizesLength);
    return -1;
}

} // namespace velmar
