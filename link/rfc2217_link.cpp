#include "link/rfc2217_link.h"

#include <algorithm>
#include <chrono>

namespace velmar {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 512;

int Send(TcpLink& tcp, const std::vector<uint8_t>& bytes) {
    return bytes.empty() ? 0 : WriteTcpLink(tcp, bytes.data(), bytes.size());
}

// Reads what the socket holds, keeps its data in `pending` and sends the answers the
// negotiation needs.
int Receive(TcpLink& tcp, Rfc2217Link& link) {
    uint8_t raw[kReadChunk];
    size_t got = 0;
    const int err = ReadTcpLink(tcp, raw, sizeof raw, got);
    if (got > 0) DecodeTelnet(link.telnet, raw, got, link.pending);
    if (!link.telnet.replies.empty()) {
        const std::vector<uint8_t> replies = std::move(link.telnet.replies);
        link.telnet.replies.clear();
        if (const int sendErr = Send(tcp, replies); sendErr != 0 && err == 0) return sendErr;
    }
    return err;
}

// Waits until `done` holds, the connection fails or `waitMs` pass.
template <class Done> int AwaitAnswer(TcpLink& tcp, Rfc2217Link& link, int waitMs, Done done) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (const int err = Receive(tcp, link); err != 0) return err;
        if (done()) return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return kRfc2217NoAnswer;
        WaitTcpLink(tcp, static_cast<int>(left.count()));
    }
}

} // namespace

int StartRfc2217(TcpLink& tcp, Rfc2217Link& link) {
    link.pending.clear();
    std::vector<uint8_t> out;
    StartTelnetComPort(link.telnet, out);
    if (const int err = Send(tcp, out); err != 0) return err;
    const int err = AwaitAnswer(tcp, link, kRfc2217ConnectMs,
                                [&link] { return link.telnet.comPort != ComPortState::Offered; });
    if (err != 0) return err;
    if (link.telnet.comPort == ComPortState::Refused) return kRfc2217Refused;
    out.clear();
    RequestModemLines(out);
    return Send(tcp, out);
}

int ConfigureRfc2217(TcpLink& tcp, Rfc2217Link& link, uint32_t baud, uint8_t dataBits, char parity,
                     uint8_t stopBits) {
    if (link.telnet.comPort != ComPortState::Accepted) return kRfc2217Refused;
    std::vector<uint8_t> out;
    RequestLineSettings(link.telnet, baud, dataBits, parity, stopBits, out);
    if (const int err = Send(tcp, out); err != 0) return err;
    const int err = AwaitAnswer(tcp, link, kRfc2217AnswerMs,
                                [&link] { return LineSettingsAnswered(link.telnet); });
    if (err != 0) return err;
    return LineSettingsDiffer(link.telnet) ? kRfc2217LineRefused : 0;
}

int WriteRfc2217(TcpLink& tcp, Rfc2217Link& /*link*/, const uint8_t* bytes, size_t count) {
    std::vector<uint8_t> out;
    EncodeTelnetData(bytes, count, out);
    return Send(tcp, out);
}

int ReadRfc2217(TcpLink& tcp, Rfc2217Link& link, uint8_t* dst, size_t max, size_t& got) {
    got = 0;
    int err = 0;
    // A chunk of raw bytes decodes to at most as many data bytes; what does not fit waits in
    // `pending` for the next call.
    if (link.pending.size() < max) err = Receive(tcp, link);
    got = std::min(max, link.pending.size());
    std::copy_n(link.pending.begin(), got, dst);
    link.pending.erase(link.pending.begin(), link.pending.begin() + static_cast<long>(got));
    return got > 0 ? 0 : err;
}

void PurgeRfc2217(TcpLink& tcp, Rfc2217Link& link) {
    link.pending.clear();
    std::vector<uint8_t> out;
    RequestPurge(out);
    (void)Send(tcp, out);
}

} // namespace velmar
