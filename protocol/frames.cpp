// The checksum and the three frames the tool sends: command frame, memory header, data frame.
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <array>

namespace velmar {

uint8_t ChecksumRot8(const uint8_t* bytes, size_t count) {
    unsigned s = 0xFF;
    for (size_t i = 0; i < count; ++i) {
        s ^= bytes[i];
        s = ((s << 1) | (s >> 7)) & 0xFFu;
    }
    return static_cast<uint8_t>(s);
}

int SendCtrlrCmd(PortSlot slot, int ctrl, uint8_t code) {
    std::array<uint8_t, 4> frame{0x60, static_cast<uint8_t>(ctrl & 0xFF), code, 0};
    frame[3] = ChecksumRot8(frame.data(), 3);
    PurgePort(slot);
    WritePort(slot, frame.data(), frame.size());
    return Code(ExchangeResult::Done);
}

namespace {

// Address bytes go high, extension, low.
std::array<uint8_t, 8> MemHeader(uint32_t address, uint8_t byte5, uint8_t count) {
    std::array<uint8_t, 8> header{0x01,
                                  0x00,
                                  static_cast<uint8_t>((address >> 8) & 0xFF),
                                  static_cast<uint8_t>((address >> 16) & 0xFF),
                                  static_cast<uint8_t>(address & 0xFF),
                                  byte5,
                                  count,
                                  0};
    header[7] = ChecksumRot8(header.data(), 7);
    return header;
}

} // namespace

int SendReadHeader(PortSlot slot, uint32_t address, uint8_t count) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    const auto header = MemHeader(address, 0x00, count);
    PurgePort(slot);
    WritePort(slot, header.data(), header.size());
    return Code(ExchangeResult::Done);
}

int SendWriteFrames(PortSlot slot, uint32_t address, unsigned count, const uint8_t* data) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    if (count > kMaxWriteFrame) return Code(ExchangeResult::FrameTooLong);
    const uint8_t first = count > 0 ? data[0] : 0;
    const auto header = MemHeader(address, first, static_cast<uint8_t>(count));
    PurgePort(slot);
    WritePort(slot, header.data(), header.size());
    if (count <= 1) return Code(ExchangeResult::Done);

    // The controller needs this pause between the header and the data frame, on the line.
    AwaitPortSent(slot, kFrameSentBudgetMs);
    detail::SleepMs(kDataFramePauseMs);
    std::array<uint8_t, kMaxWriteFrame> frame{};
    const size_t rest = count - 1;
    for (size_t i = 0; i < rest; ++i) frame[i] = data[i + 1];
    frame[rest] = ChecksumRot8(frame.data(), rest);
    WritePort(slot, frame.data(), count);
    return Code(ExchangeResult::Done);
}

} // namespace velmar
