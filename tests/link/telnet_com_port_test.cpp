// The Telnet conversation with an rfc2217: gateway, byte by byte: data transparency (0xFF),
// commands cut anywhere between two reads, the negotiation answers, the line settings, and the
// network port names.
#include "link/tcp_link.h"
#include "link/telnet_com_port.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kNop = 241;
constexpr uint8_t kEcho = 1;
constexpr uint8_t kTerminalType = 24;
constexpr uint8_t kNotifyModemState = kServerOffset + 7;

Bytes Decode(TelnetComPort& state, const Bytes& wire) {
    Bytes data;
    DecodeTelnet(state, wire.data(), wire.size(), data);
    return data;
}

TEST(TelnetComPortTest, DataBytesSurviveTheWireBothWays) {
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {{}, {}},
        {{0x60, 0x01, 0x21}, {0x60, 0x01, 0x21}},
        {{0xFF}, {0xFF, 0xFF}},
        {{0xFF, 0xFF, 0x00, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}},
    };
    for (const auto& [data, wire] : cases) {
        Bytes encoded;
        EncodeTelnetData(data.data(), data.size(), encoded);
        EXPECT_EQ(encoded, wire);
        TelnetComPort whole;
        EXPECT_EQ(Decode(whole, wire), data);
        TelnetComPort byByte; // the same when every byte comes in a read of its own
        Bytes got;
        for (const uint8_t b : wire) DecodeTelnet(byByte, &b, 1, got);
        EXPECT_EQ(got, data);
    }
}

TEST(TelnetComPortTest, CommandsAmongTheDataAreTakenOut) {
    const Bytes speedAnswer = {
        kIac, kSb, kComPortOption, kServerOffset + kSetBaudRate, 0, 0, 0xFF, 0xFF, 0x00, kIac, kSe};
    const Bytes notify = {kIac, kSb, kComPortOption, kNotifyModemState, 0x30, kIac, kSe};
    Bytes wire = {0x11, kIac, kNop, 0x22};
    wire.insert(wire.end(), speedAnswer.begin(), speedAnswer.end());
    wire.push_back(0x33);
    wire.insert(wire.end(), notify.begin(), notify.end());
    wire.insert(wire.end(), {0xFF, 0xFF, 0x44});
    // Cut at every place: the data and the answer are the same.
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        TelnetComPort state;
        state.settings[kSetBaudRate].awaited = true;
        Bytes data;
        DecodeTelnet(state, wire.data(), cut, data);
        DecodeTelnet(state, wire.data() + cut, wire.size() - cut, data);
        EXPECT_EQ(data, (Bytes{0x11, 0x22, 0x33, 0xFF, 0x44})) << cut;
        EXPECT_FALSE(state.settings[kSetBaudRate].awaited) << cut;
        EXPECT_EQ(state.settings[kSetBaudRate].value, 0xFF00u) << cut;
        EXPECT_TRUE(state.replies.empty()) << cut;
    }
}

TEST(TelnetComPortTest, NegotiationIsAnsweredOnceAndNeverLoops) {
    struct Case {
        Bytes received;
        Bytes replies;
        ComPortState comPort;
    };
    const std::vector<Case> cases = {
        {{kIac, kDo, kComPortOption}, {}, ComPortState::Accepted},
        {{kIac, kDont, kComPortOption}, {}, ComPortState::Refused},
        {{kIac, kDo, kComPortOption, kIac, kDo, kComPortOption}, {}, ComPortState::Accepted},
        {{kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead},
         {},
         ComPortState::Offered},
        {{kIac, kWill, kEcho}, {kIac, kDont, kEcho}, ComPortState::Offered},
        {{kIac, kDo, kTerminalType}, {kIac, kWont, kTerminalType}, ComPortState::Offered},
        // Accepted, then withdrawn: the server stops setting the line.
        {{kIac, kDo, kComPortOption, kIac, kDont, kComPortOption},
         {kIac, kWont, kComPortOption},
         ComPortState::Refused},
        // The server asks for our signature.
        {{kIac, kSb, kComPortOption, kServerOffset + kSignature, kIac, kSe},
         {kIac, kSb, kComPortOption, kSignature, 'v', 'e', 'l', 'm', 'a', 'r', kIac, kSe},
         ComPortState::Offered},
    };
    for (const Case& c : cases) {
        TelnetComPort state;
        Bytes offer;
        StartTelnetComPort(state, offer);
        EXPECT_EQ(offer,
                  (Bytes{kIac, kWill, kComPortOption, kIac, kWill, kBinary, kIac, kWill,
                         kSuppressGoAhead, kIac, kDo, kBinary, kIac, kDo, kSuppressGoAhead}));
        EXPECT_TRUE(Decode(state, c.received).empty());
        EXPECT_EQ(state.replies, c.replies) << c.received.size();
        EXPECT_EQ(state.comPort, c.comPort) << c.received.size();
    }
}

TEST(TelnetComPortTest, LineSettingsAreSentAndTheirAnswersChecked) {
    TelnetComPort state;
    Bytes out;
    RequestLineSettings(state, 9600, 8, 'E', 2, out);
    EXPECT_EQ(out, (Bytes{kIac,
                          kSb,
                          kComPortOption,
                          kSetBaudRate,
                          0,
                          0,
                          0x25,
                          0x80,
                          kIac,
                          kSe,
                          kIac,
                          kSb,
                          kComPortOption,
                          kSetDataSize,
                          8,
                          kIac,
                          kSe,
                          kIac,
                          kSb,
                          kComPortOption,
                          kSetParity,
                          3,
                          kIac,
                          kSe,
                          kIac,
                          kSb,
                          kComPortOption,
                          kSetStopSize,
                          2,
                          kIac,
                          kSe}));
    EXPECT_FALSE(LineSettingsAnswered(state));
    const auto answer = [](uint8_t command, const Bytes& value) {
        Bytes b;
        b.reserve(value.size() + 6);
        for (const uint8_t head : {kIac, kSb, kComPortOption}) b.push_back(head);
        b.push_back(static_cast<uint8_t>(kServerOffset + command));
        for (const uint8_t v : value) b.push_back(v);
        b.push_back(kIac);
        b.push_back(kSe);
        return b;
    };
    Decode(state, answer(kSetDataSize, {8}));
    Decode(state, answer(kSetParity, {3}));
    Decode(state, answer(kSetStopSize, {2}));
    EXPECT_FALSE(LineSettingsAnswered(state));
    Decode(state, answer(kSetBaudRate, {0, 0, 0x12, 0xC0})); // it stayed at 4800
    EXPECT_TRUE(LineSettingsAnswered(state));
    EXPECT_TRUE(LineSettingsDiffer(state));

    RequestLineSettings(state, 9600, 8, 'E', 2, out);
    for (const auto& a : {answer(kSetBaudRate, {0, 0, 0x25, 0x80}), answer(kSetDataSize, {8}),
                          answer(kSetParity, {3}), answer(kSetStopSize, {2})})
        Decode(state, a);
    EXPECT_TRUE(LineSettingsAnswered(state));
    EXPECT_FALSE(LineSettingsDiffer(state));
}

// Each setting the server reports in effect counts: speed, data bits, parity and stop bits alike.
TEST(TelnetComPortTest, AnyLineSettingKeptByTheServerDiffers) {
    const Bytes asked[] = {{0, 0, 0x25, 0x80}, {8}, {1}, {1}}; // 9600 8N1
    const Bytes kept[] = {{0, 0, 0x12, 0xC0}, {7}, {3}, {2}};  // 4800 7E2
    for (uint8_t differing = kSetBaudRate; differing <= kSetStopSize; ++differing) {
        TelnetComPort state;
        Bytes out;
        RequestLineSettings(state, 9600, 8, 'N', 1, out);
        for (uint8_t command = kSetBaudRate; command <= kSetStopSize; ++command) {
            Bytes answer = {kIac, kSb, kComPortOption,
                            static_cast<uint8_t>(kServerOffset + command)};
            const Bytes& value = (command == differing ? kept : asked)[command - kSetBaudRate];
            answer.insert(answer.end(), value.begin(), value.end());
            answer.insert(answer.end(), {kIac, kSe});
            Decode(state, answer);
        }
        EXPECT_TRUE(LineSettingsAnswered(state)) << int(differing);
        EXPECT_TRUE(LineSettingsDiffer(state)) << int(differing);
    }
}

TEST(TelnetComPortTest, FormatCodes) {
    const std::vector<std::pair<char, uint8_t>> parities = {{'N', 1}, {'O', 2}, {'E', 3}, {'M', 4},
                                                            {'S', 5}, {'Z', 5}, {'X', 0}};
    for (const auto& [letter, code] : parities) EXPECT_EQ(TelnetParityCode(letter), code);
    const std::vector<std::pair<uint8_t, uint8_t>> stops = {{1, 1}, {2, 2}, {0, 0}, {3, 0}};
    for (const auto& [bits, code] : stops) EXPECT_EQ(TelnetStopSizeCode(bits), code);
}

TEST(NetworkPortNameTest, HostAndPortOfBothKinds) {
    struct Case {
        std::string name;
        bool valid;
        std::string host, port;
    };
    const std::vector<Case> cases = {
        {"tcp:192.168.0.50:4001", true, "192.168.0.50", "4001"},
        {"rfc2217:gw-12.station:2217", true, "gw-12.station", "2217"},
        {"tcp:[::1]:4001", true, "::1", "4001"},
        {"rfc2217:[fe80::1%eth0]:7000", true, "fe80::1%eth0", "7000"},
        {"rfc2217:::1:4001", false, "", ""}, // IPv6 needs its brackets
        {"rfc2217:[::1]4001", false, "", ""},
        {"rfc2217:[::1]:", false, "", ""},
        {"rfc2217:127.0.0.1:0", false, "", ""},
        {"rfc2217:127.0.0.1:65536", false, "", ""},
        {"rfc2217::4001", false, "", ""},
        {"telnet:127.0.0.1:4001", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string host, port;
        EXPECT_EQ(ParseNetworkPortName(c.name.c_str(), host, port), c.valid) << c.name;
        if (!c.valid) continue;
        EXPECT_EQ(host, c.host) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
    }
    EXPECT_TRUE(IsRfc2217PortName("rfc2217:x:1"));
    EXPECT_FALSE(IsTcpPortName("rfc2217:x:1"));
    EXPECT_TRUE(IsNetworkPortName("tcp:x:1"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}

} // namespace
} // namespace velmar
