// The identification text: request, assembly of the pieces, code page conversion.
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <array>

namespace velmar {

namespace {

constexpr uint8_t kIdentCmd = 0x00;
constexpr uint8_t kIdentRequest = 0x31;

} // namespace

uint8_t Cp866ToCp1251(uint8_t byte) {
    if (byte == 0xFC) return 0xB9; // numero sign
    if (byte >= 0x80 && byte <= 0xAF) return static_cast<uint8_t>(byte + 0x40);
    if (byte >= 0xE0 && byte <= 0xEF) return static_cast<uint8_t>(byte + 0x10);
    if (byte == 0xF0) return 0xA8;
    if (byte == 0xF1) return 0xB8;
    return byte;
}

int ReadIdentText(PortSlot slot, int ctrl, char* text) {
    text[0] = '\0';
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);

    // The command frame purges first: nothing is due before the request, and leftovers would
    // corrupt the text.
    SendCtrlrCmd(slot, ctrl, kIdentCmd);
    WritePortByte(slot, kIdentRequest);

    // The text ends at its zero byte; a silence of identSilenceMs before it ends it early.
    constexpr int kCapacity = kIdentTextSize - 1; // room for the terminating zero
    int length = 0;
    std::array<uint8_t, 256> piece{};
    const int silenceMs = Timeouts(slot).identSilenceMs + PortExtraWaitMs(slot);
    detail::Deadline silence(silenceMs);
    for (;;) {
        const int n = PortAvailable(slot);
        if (n > 0 && ReadPort(slot, piece.data(), n) == 1) {
            for (int i = 0; i < n; ++i) {
                const uint8_t b = piece[static_cast<size_t>(i)];
                if (b == 0) {
                    text[length] = '\0';
                    return Code(ExchangeResult::Done);
                }
                if (length == kCapacity) {
                    // More text than the buffer holds: keep what fits, report it incomplete.
                    text[length] = '\0';
                    return Code(ExchangeResult::BadReply);
                }
                // CR and LF pass unchanged (the conversion leaves them alone as well).
                text[length++] = static_cast<char>(Cp866ToCp1251(b));
            }
            silence.Restart(silenceMs);
            continue;
        }
        if (silence.Expired()) {
            text[length] = '\0';
            return length > 0 ? Code(ExchangeResult::BadReply) : Code(ExchangeResult::Failed);
        }
        WaitPortData(slot, silence.RemainingMs());
    }
}

} // namespace velmar
