#include "link/telnet_com_port.h"

#include <cstring>

namespace velmar {

using namespace telnet;

namespace {

// A subnegotiation longer than any COM-PORT-OPTION answer is cut here: a peer cannot make the
// connection hold an unbounded buffer.
constexpr size_t kMaxSubLength = 64;
constexpr const char kSignatureText[] = "velmar";

bool WeOffer(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}
bool WeAccept(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

void Command(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
    out.insert(out.end(), {kIac, verb, option});
}

// IAC SB COM-PORT-OPTION command payload IAC SE, with 0xFF in the payload doubled.
void ComPortCommand(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload,
                    size_t count) {
    out.insert(out.end(), {kIac, kSb, kComPortOption, command});
    EncodeTelnetData(payload, count, out);
    out.insert(out.end(), {kIac, kSe});
}

void OneByteCommand(std::vector<uint8_t>& out, uint8_t command, uint8_t value) {
    ComPortCommand(out, command, &value, 1);
}

void OnVerb(TelnetComPort& s, uint8_t verb, uint8_t option) {
    switch (verb) {
    case kDo:
        if (s.localOn[option]) break;
        if (WeOffer(option)) {
            s.localOn[option] = true;
            if (!s.localAsked[option]) Command(s.replies, kWill, option);
            if (option == kComPortOption) s.comPort = ComPortState::Accepted;
        } else {
            Command(s.replies, kWont, option);
        }
        s.localAsked[option] = false;
        break;
    case kDont:
        if (s.localOn[option]) Command(s.replies, kWont, option);
        if (option == kComPortOption && (s.localOn[option] || s.localAsked[option]))
            s.comPort = ComPortState::Refused;
        s.localOn[option] = false;
        s.localAsked[option] = false;
        break;
    case kWill:
        if (s.remoteOn[option]) break;
        if (WeAccept(option)) {
            s.remoteOn[option] = true;
            if (!s.remoteAsked[option]) Command(s.replies, kDo, option);
        } else {
            Command(s.replies, kDont, option);
        }
        s.remoteAsked[option] = false;
        break;
    case kWont:
        if (s.remoteOn[option]) Command(s.replies, kDont, option);
        s.remoteOn[option] = false;
        s.remoteAsked[option] = false;
        break;
    default:
        break;
    }
}

void OnSubnegotiation(TelnetComPort& s) {
    const std::vector<uint8_t>& b = s.sub;
    if (b.size() < 2 || b[0] != kComPortOption) return;
    const uint8_t command = b[1];
    if (command == kServerOffset + kSignature && b.size() == 2) { // the server asks who we are
        ComPortCommand(s.replies, kSignature, reinterpret_cast<const uint8_t*>(kSignatureText),
                       std::strlen(kSignatureText));
        return;
    }
    if (command <= kServerOffset + kSignature || command > kServerOffset + kSetStopSize) return;
    LineSettingAnswer& answer = s.settings[command - kServerOffset];
    if (command == kServerOffset + kSetBaudRate) {
        if (b.size() < 6) return;
        answer.value = uint32_t{b[2]} << 24 | uint32_t{b[3]} << 16 | uint32_t{b[4]} << 8 | b[5];
    } else {
        if (b.size() < 3) return;
        answer.value = b[2];
    }
    answer.awaited = false;
}

} // namespace

void StartTelnetComPort(TelnetComPort& state, std::vector<uint8_t>& out) {
    state = TelnetComPort{};
    for (const uint8_t option : {kComPortOption, kBinary, kSuppressGoAhead}) {
        state.localAsked[option] = true;
        Command(out, kWill, option);
    }
    for (const uint8_t option : {kBinary, kSuppressGoAhead}) {
        state.remoteAsked[option] = true;
        Command(out, kDo, option);
    }
}

void EncodeTelnetData(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) {
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == kIac) out.push_back(kIac);
    }
}

void DecodeTelnet(TelnetComPort& s, const uint8_t* bytes, size_t count,
                  std::vector<uint8_t>& data) {
    using Rx = TelnetComPort::Rx;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (s.rx) {
        case Rx::Data:
            if (b == kIac)
                s.rx = Rx::Iac;
            else
                data.push_back(b);
            break;
        case Rx::Iac:
            if (b == kIac) {
                data.push_back(kIac);
                s.rx = Rx::Data;
            } else if (b >= kWill && b <= kDont) {
                s.verb = b;
                s.rx = Rx::Option;
            } else if (b == kSb) {
                s.sub.clear();
                s.rx = Rx::Sub;
            } else {
                s.rx = Rx::Data; // NOP, go-ahead, break and the like carry nothing for us
            }
            break;
        case Rx::Option:
            OnVerb(s, s.verb, b);
            s.rx = Rx::Data;
            break;
        case Rx::Sub:
            if (b == kIac)
                s.rx = Rx::SubIac;
            else if (s.sub.size() < kMaxSubLength)
                s.sub.push_back(b);
            break;
        case Rx::SubIac:
            if (b == kIac) {
                if (s.sub.size() < kMaxSubLength) s.sub.push_back(kIac);
                s.rx = Rx::Sub;
            } else if (b == kSe) {
                OnSubnegotiation(s);
                s.rx = Rx::Data;
            } else {
                // A command inside a subnegotiation ends it unread; the command itself counts.
                s.sub.clear();
                s.rx = Rx::Iac;
                --i;
            }
            break;
        }
    }
}

uint8_t TelnetParityCode(char parity) {
    switch (parity) {
    case 'N':
        return 1;
    case 'O':
        return 2;
    case 'E':
        return 3;
    case 'M':
        return 4;
    case 'S':
    case 'Z':
        return 5;
    default:
        return 0;
    }
}

uint8_t TelnetStopSizeCode(uint8_t stopBits) {
    return stopBits == 1 || stopBits == 2 ? stopBits : 0;
}

void RequestLineSettings(TelnetComPort& state, uint32_t baud, uint8_t dataBits, char parity,
                         uint8_t stopBits, std::vector<uint8_t>& out) {
    const uint8_t speed[4] = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                              static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
    ComPortCommand(out, kSetBaudRate, speed, sizeof speed);
    const uint8_t sizeCode = dataBits >= 5 && dataBits <= 8 ? dataBits : 0;
    OneByteCommand(out, kSetDataSize, sizeCode);
    OneByteCommand(out, kSetParity, TelnetParityCode(parity));
    OneByteCommand(out, kSetStopSize, TelnetStopSizeCode(stopBits));
    const uint32_t asked[] = {0, baud, sizeCode, TelnetParityCode(parity),
                              TelnetStopSizeCode(stopBits)};
    for (uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command)
        state.settings[command] = LineSettingAnswer{true, asked[command], 0};
}

bool LineSettingsAnswered(const TelnetComPort& state) {
    for (uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command)
        if (state.settings[command].awaited) return false;
    return true;
}

bool LineSettingsDiffer(const TelnetComPort& state) {
    for (uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command) {
        const LineSettingAnswer& a = state.settings[command];
        if (!a.awaited && a.asked != 0 && a.value != a.asked) return true;
    }
    return false;
}

void RequestPurge(std::vector<uint8_t>& out) {
    OneByteCommand(out, kPurgeData, kPurgeServerReceive);
}

void RequestModemLines(std::vector<uint8_t>& out) {
    for (const uint8_t control : {kControlNoFlowControl, kControlDtrOff, kControlRtsOff})
        OneByteCommand(out, kSetControl, control);
}

} // namespace velmar
