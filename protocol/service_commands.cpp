// Fixed service exchanges: address poll, restart, pulse simulator, temperature sensor, sizes.
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"
#include "protocol/write_chunk.h"

#include <array>
#include <cstring>

namespace velmar {

namespace {

constexpr uint8_t kPollCmd = 0x21;
constexpr uint8_t kPulseSimulatorBit = 0x40;
constexpr uint8_t kWriteErCmd = 0x40;
constexpr uint8_t kRestartRequest = 0x01;
// A one-byte write is answered by two bytes; the status is the last.
constexpr int kRestartStatusLength = 2;

} // namespace

int PollCtrlrAddress(PortSlot slot, int ctrl, uint8_t reply[4], int& ctrlrNumber) {
    // The command frame purges first: stray bytes of an earlier exchange (for instance the tail
    // of a longer reply, which the exchanges no longer wait for) would otherwise be taken as this
    // reply.
    SendCtrlrCmd(slot, ctrl, kPollCmd);

    const int n = detail::AwaitAtLeast(slot, 4, Timeouts(slot).addressPollMs);
    if (n < 4) return Code(PollResult::NoAnswer);
    std::array<uint8_t, 256> got{};
    if (ReadPort(slot, got.data(), n) != 1) return Code(PollResult::NoAnswer);
    if (ChecksumRot8(got.data(), 3) != got[3]) return Code(PollResult::WrongAnswer);
    // At the reserve address the answering controller's number counts even when the echo is
    // wrong: it tells which controller is there.
    if ((ctrl & 0xFF) == kReserveAddress) ctrlrNumber = got[0];
    if (got[1] != kPollCmd) return Code(PollResult::WrongAnswer);
    std::memcpy(reply, got.data(), 4);
    ctrlrNumber = got[0];
    return Code(PollResult::Answered);
}

int RestartCtrlr(PortSlot slot, int ctrl) {
    return SendRestart(slot, ctrl) == RestartStatus::Accepted ? Code(ExchangeResult::Done)
                                                              : Code(ExchangeResult::Failed);
}

RestartStatus SendRestart(PortSlot slot, int ctrl) {
    if (slot > kMaxTransactionSlot) return RestartStatus::NotSent;
    SendCtrlrCmd(slot, ctrl, kWriteErCmd);
    if (SendWriteFrames(slot, service::kRestart, 1, &kRestartRequest) != 1)
        return RestartStatus::NotSent;
    uint8_t block[kMaxWriteFrame] = {};
    const int n = detail::AwaitStatusBlock(slot, block, static_cast<int>(sizeof block),
                                           kRestartStatusLength, Timeouts(slot).writeStatusMs);
    if (n != kRestartStatusLength) return RestartStatus::Lost;
    return block[kRestartStatusLength - 1] == 0 ? RestartStatus::Accepted : RestartStatus::Refused;
}

int GetPulseSimulator(PortSlot slot, int ctrl) {
    uint8_t status = 0;
    if (!Succeeded(ReadCtrlrMem(slot, ctrl, service::kStatusIR, 1, &status, kSpaceIR)))
        return Code(ExchangeResult::Failed);
    return (status & kPulseSimulatorBit) != 0 ? 1 : 0;
}

int SetPulseSimulator(PortSlot slot, int ctrl, bool on) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    // The other bits of the status byte are not the tool's to keep: it writes the switch alone.
    const uint8_t status = on ? kPulseSimulatorBit : 0;
    return Succeeded(WriteCtrlrMem(slot, ctrl, service::kStatusIR, 1, &status, kSpaceIR))
               ? Code(ExchangeResult::Done)
               : Code(ExchangeResult::Failed);
}

bool ReadTempAdc(PortSlot slot, int ctrl, uint8_t out[3]) {
    return Succeeded(ReadCtrlrMem(slot, ctrl, service::kTempAdcIR, 3, out, kSpaceIR));
}

int ReadStructSizes(PortSlot slot, int ctrl, uint8_t sizes[service::kSizesLength]) {
    if (ReadCtrlrMem(slot, ctrl, service::kSizes, service::kSizesLength, sizes, kSpaceER) ==
        service::kSizesLength)
        return Code(ExchangeResult::Done);
    std::memset(sizes, 0, service::kSizesLength);
    return Code(ExchangeResult::Failed);
}

} // namespace velmar
