// The bytes the tool puts on the line, checked exactly against a raw pseudo-terminal peer, and
// the transactions' handling of replies the peer shapes at will.
#include "data/device_image.h"
#include "data/memory_map.h"
#include "protocol/line_context.h"
#include "protocol/read_retry.h"
#include "pty_peer.h"
#include "test_support.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

namespace velmar::test {
namespace {

using Clock = std::chrono::steady_clock;

class PeerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        StartLayerWithTempLog();
        ASSERT_EQ(OpenPort(slot, peer.Path().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
        // The scripted peer answers each request once: every number it plays is taken as a
        // controller known to send the checksum, so that no reply waits for a confirming read.
        for (int ctrl = 0; ctrl < 256; ++ctrl) {
            for (uint8_t data = 0; data < kPassesToKnowChecksum; ++data)
                NoteReplyPassed(slot, ctrl, &data, 1);
        }
    }
    void TearDown() override {
        if (reader.joinable()) reader.join();
        ClosePort(slot);
        StopPortLayer();
    }
    // Runs the peer's part of the exchange in a thread while the test calls the protocol.
    template <class F> void Peer(F script) { reader = std::thread(script); }
    void JoinPeer() {
        if (reader.joinable()) reader.join();
    }

    PtyPeer peer;
    PortSlot slot = 0;
    std::thread reader;
};

TEST_F(PeerTest, CommandFrameAndReadHeaderAreExact) {
    EXPECT_EQ(SendCtrlrCmd(slot, 0x105, 0x4A), 1); // frames carry the low byte of the number
    EXPECT_EQ(peer.Read(4), WithSum({0x60, 0x05, 0x4A}));

    // Address bytes: high, extension, low.
    EXPECT_EQ(SendReadHeader(slot, 0x123456, 40), 1);
    EXPECT_EQ(peer.Read(8), WithSum({0x01, 0x00, 0x34, 0x12, 0x56, 0x00, 40}));
}

TEST_F(PeerTest, WriteFramesOfOneTwoAndFortyBytes) {
    const uint8_t one[] = {0xA5};
    EXPECT_EQ(SendWriteFrames(slot, 0x3101, 1, one), 1);
    EXPECT_EQ(peer.Read(8), WithSum({0x01, 0x00, 0x31, 0x00, 0x01, 0xA5, 1}));
    EXPECT_TRUE(peer.ReadUntilQuiet(150).empty()) << "a 1-byte write is the header alone";

    const uint8_t two[] = {0x11, 0x22};
    const auto start = Clock::now();
    EXPECT_EQ(SendWriteFrames(slot, 0x88FFFF, 2, two), 1);
    EXPECT_GE(MsSince(start), 49.0) << "the controller needs its pause before the data frame";
    EXPECT_EQ(peer.Read(8), WithSum({0x01, 0x00, 0xFF, 0x88, 0xFF, 0x11, 2}));
    EXPECT_EQ(peer.Read(2), WithSum({0x22}));

    std::vector<uint8_t> forty(40);
    for (size_t i = 0; i < forty.size(); ++i) forty[i] = static_cast<uint8_t>(i * 7 + 1);
    EXPECT_EQ(SendWriteFrames(slot, 0x1000, 40, forty.data()), 1);
    EXPECT_EQ(peer.Read(8), WithSum({0x01, 0x00, 0x10, 0x00, 0x00, forty[0], 40}));
    EXPECT_EQ(peer.Read(40), WithSum({forty.begin() + 1, forty.end()}));
}

TEST_F(PeerTest, RefusalsSendNothing) {
    std::vector<uint8_t> big(65, 0x33);
    EXPECT_EQ(SendWriteFrames(slot, 0x5000, 65, big.data()), -4);
    EXPECT_EQ(SendWriteFrames(slot, 0x5000, 64, big.data()), 1);
    EXPECT_EQ(peer.Read(8 + 64).size(), 72u);

    // Make the peer's port slot 5: the transactions refuse it before any traffic.
    PtyPeer others[4];
    PortSlot otherSlots[4] = {};
    ClosePort(slot);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(OpenPort(otherSlots[i], others[i].Path().c_str()), 0);
    ASSERT_EQ(OpenPort(slot, peer.Path().c_str()), 0);
    ASSERT_EQ(slot, 5);
    ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
    uint8_t buf[64] = {};
    char text[kIdentTextSize];
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x3040, 7, buf, 0), -3);
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x3100, -1, buf, 0), -3);
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x5000, 2, buf, 0), -3);
    EXPECT_EQ(SendReadHeader(slot, 0x5000, 1), -3);
    EXPECT_EQ(SendWriteFrames(slot, 0x5000, 2, buf), -3);
    EXPECT_EQ(BlockWriteAcked(slot, 1, 0x5000, 2, buf), -3);
    EXPECT_EQ(SetPulseSimulator(slot, 1, true), -3);
    EXPECT_EQ(ReadIdentText(slot, 1, text), -3);
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(peer.ReadUntilQuiet(100).empty());
    for (PortSlot s : otherSlots) ClosePort(s);
}

TEST_F(PeerTest, ReadOf41BytesSendsTwoHeaders) {
    std::vector<uint8_t> data(41);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x80 + i);
    std::vector<uint8_t> cmd1, hdr1, cmd2, hdr2;
    Peer([&] {
        cmd1 = peer.Read(4);
        hdr1 = peer.Read(8);
        std::vector<uint8_t> reply(data.begin(), data.begin() + 40);
        reply.push_back(ChecksumRot8(reply.data(), 40)); // trailing byte, not part of the data
        peer.Write(reply);
        cmd2 = peer.Read(4);
        hdr2 = peer.Read(8);
        peer.Write(WithSum({data[40]}));
    });
    std::array<uint8_t, 41> dst{};
    EXPECT_EQ(ReadCtrlrMem(slot, 3, 0x12F0, 41, dst.data(), kSpaceIM), 41);
    JoinPeer();
    EXPECT_EQ(cmd1, WithSum({0x60, 3, 0x4C}));
    EXPECT_EQ(hdr1, WithSum({0x01, 0x00, 0x12, 0x00, 0xF0, 0x00, 40}));
    EXPECT_EQ(cmd2, cmd1);
    EXPECT_EQ(hdr2, WithSum({0x01, 0x00, 0x13, 0x00, 0x18, 0x00, 1}));
    EXPECT_EQ(Bytes(dst.data(), 41), data);
}

TEST_F(PeerTest, SelfSizedReadTakesLengthFromFirstByte) {
    std::vector<uint8_t> hdr1, hdr2;
    Peer([&] {
        peer.Read(4);
        hdr1 = peer.Read(8);
        peer.Write(WithSum({3})); // length byte and the trailing byte
        peer.Read(4);
        hdr2 = peer.Read(8);
        peer.Write(WithSum({0xA1, 0xA2, 0xA3}));
    });
    std::array<uint8_t, kSelfSizedMax> dst{};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x3100, -1, dst.data(), kSpaceER), 3);
    JoinPeer();
    EXPECT_EQ(hdr1, WithSum({0x01, 0x00, 0x31, 0x00, 0x00, 0x00, 1}));
    EXPECT_EQ(hdr2, WithSum({0x01, 0x00, 0x31, 0x00, 0x01, 0x00, 3}));
    EXPECT_EQ(Bytes(dst.data(), 3), (std::vector<uint8_t>{0xA1, 0xA2, 0xA3}));
}

TEST_F(PeerTest, SelfSizedReadOfEmptyRecordSendsOnlyTheLengthRequest) {
    std::vector<uint8_t> after;
    Peer([&] {
        peer.Read(12);
        peer.Write(WithSum({0}));
        after = peer.ReadUntilQuiet(200);
    });
    std::array<uint8_t, kSelfSizedMax> dst{};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x3100, 0, dst.data(), kSpaceER), 0);
    JoinPeer();
    EXPECT_TRUE(after.empty());
}

TEST_F(PeerTest, ReplyLongerOrShorterThanExpectedFails) {
    Peer([&] {
        peer.Read(12);
        peer.Write({1, 2, 3, 4, 5}); // 3 data bytes + trailer + one too many
    });
    uint8_t dst[3] = {};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x2000, 3, dst, kSpaceER), -1);
    JoinPeer();

    Peer([&] {
        peer.Read(12);
        peer.Write({1, 2, 3}); // the trailer is missing
    });
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x2000, 3, dst, kSpaceER), -1);
    JoinPeer();

    Peer([&] {
        peer.Read(12);
        peer.Write({7}); // length request answered with one byte only
    });
    uint8_t self[kSelfSizedMax] = {};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x3100, -1, self, kSpaceER), -1);
    JoinPeer();
}

TEST_F(PeerTest, ReplyThatGrowsPastItsLengthIsRefused) {
    // The stray byte comes a moment after the expected ones, as on a line; a generous settle
    // time keeps the check independent of the machine's load.
    LineOf(slot)->timeouts.replySettlePercent = 2000; // 20 characters, about 40 ms at 4800 baud
    Peer([&] {
        peer.Read(12);
        peer.Write({1, 2, 3, 4});
        PtyPeer::SleepMs(2);
        peer.Write({0x55});
    });
    uint8_t dst[3] = {};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x2000, 3, dst, kSpaceER), -1);
    JoinPeer();
}

TEST_F(PeerTest, SlowReplyKeepsGoingWhileBytesArrive) {
    // Each byte comes well within the stall limit, the whole reply well beyond it.
    const int gap = Timeouts(slot).readChunkStallMs * 2 / 3;
    Peer([&] {
        peer.Read(12);
        for (uint8_t b : WithSum({0x10, 0x20, 0x30})) {
            PtyPeer::SleepMs(gap);
            peer.Write({b});
        }
    });
    uint8_t dst[3] = {};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x2000, 3, dst, kSpaceER), 3);
    JoinPeer();
    EXPECT_EQ(Bytes(dst, 3), (std::vector<uint8_t>{0x10, 0x20, 0x30}));
}

TEST_F(PeerTest, WriteStatusBlocks) {
    // 2 bytes: header, data frame, a 1-byte status.
    std::vector<uint8_t> sent;
    Peer([&] {
        sent = peer.Read(4 + 8 + 2);
        peer.Write({0x00});
    });
    const uint8_t two[] = {0x3C, 0x4D};
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x4000, 2, two, kSpaceIR), 1);
    JoinPeer();
    std::vector<uint8_t> expected = WithSum({0x60, 2, 0x42});
    for (uint8_t b : WithSum({0x01, 0x00, 0x40, 0x00, 0x00, 0x3C, 2})) expected.push_back(b);
    for (uint8_t b : WithSum({0x4D})) expected.push_back(b);
    EXPECT_EQ(sent, expected);

    // A nonzero status is a refusal once the controller gives it again; in the live registers
    // at once, since a write there is never sent twice.
    Peer([&] {
        for (int i = 0; i < 2; ++i) {
            peer.Read(14);
            peer.Write({0x01});
        }
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x4000, 2, two, kSpaceER), -1);
    JoinPeer();
    Peer([&] {
        peer.Read(14);
        peer.Write({0x01});
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x4000, 2, two, kSpaceIR), -1);
    JoinPeer();

    // 1 byte: the status block has 2 bytes and its last one counts.
    Peer([&] {
        peer.Read(12);
        peer.Write({0x99, 0x00});
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x24, 1, two, kSpaceIR), 1);
    JoinPeer();
    Peer([&] {
        peer.Read(12);
        peer.Write({0x00, 0x02});
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x24, 1, two, kSpaceIR), -1);
    JoinPeer();
    Peer([&] {
        peer.Read(12);
        peer.Write({0x00}); // one byte where two are due
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x24, 1, two, kSpaceIR), -1);
    JoinPeer();

    EXPECT_EQ(WriteCtrlrMem(slot, 2, 0x24, 0, two, kSpaceIR), 1);
    EXPECT_TRUE(peer.ReadUntilQuiet(100).empty()) << "nothing to write, nothing sent";
}

TEST_F(PeerTest, WriteOf41BytesGoesInTwoChunks) {
    std::vector<uint8_t> data(41);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> first, second;
    Peer([&] {
        first = peer.Read(4 + 8 + 40);
        peer.Write({0x00});
        second = peer.Read(4 + 8);
        peer.Write({0x00, 0x00});
    });
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x2000, 41, data.data(), kSpaceER), 1);
    JoinPeer();
    ASSERT_EQ(first.size(), 52u);
    EXPECT_EQ(std::vector<uint8_t>(first.begin() + 4, first.begin() + 12),
              WithSum({0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 40}));
    EXPECT_EQ(std::vector<uint8_t>(second.begin() + 4, second.end()),
              WithSum({0x01, 0x00, 0x20, 0x00, 0x28, 40, 1}));
}

TEST_F(PeerTest, AddressPollReplies) {
    uint8_t reply[4] = {};
    int number = -1;
    std::vector<uint8_t> sent;
    Peer([&] {
        sent = peer.Read(4);
        peer.Write(WithSum({0x07, 0x21, 0x5A}));
    });
    EXPECT_EQ(PollCtrlrAddress(slot, 7, reply, number), 1);
    JoinPeer();
    EXPECT_EQ(sent, WithSum({0x60, 0x07, 0x21}));
    EXPECT_EQ(Bytes(reply, 4), WithSum({0x07, 0x21, 0x5A}));
    EXPECT_EQ(number, 7);

    // Wrong echo at the reserve address: -2, but the number is known.
    number = -1;
    Peer([&] {
        peer.Read(4);
        peer.Write(WithSum({0x85, 0x22, 0x00}));
    });
    EXPECT_EQ(PollCtrlrAddress(slot, kReserveAddress, reply, number), -2);
    JoinPeer();
    EXPECT_EQ(number, 0x85);

    // Wrong echo at an ordinary number, and a bad checksum: -2, number untouched.
    number = -1;
    Peer([&] {
        peer.Read(4);
        peer.Write(WithSum({0x07, 0x22, 0x00}));
    });
    EXPECT_EQ(PollCtrlrAddress(slot, 7, reply, number), -2);
    JoinPeer();
    Peer([&] {
        peer.Read(4);
        peer.Write({0x85, 0x21, 0x00, 0x00});
    });
    EXPECT_EQ(PollCtrlrAddress(slot, kReserveAddress, reply, number), -2);
    JoinPeer();
    EXPECT_EQ(number, -1);

    // A longer reply is taken when its first four bytes are right.
    Peer([&] {
        peer.Read(4);
        auto r = WithSum({0x09, 0x21, 0x00});
        r.push_back(0xFF);
        r.push_back(0xFE);
        peer.Write(r);
    });
    EXPECT_EQ(PollCtrlrAddress(slot, 9, reply, number), 1);
    JoinPeer();
    EXPECT_EQ(number, 9);

    // Silence.
    const auto start = Clock::now();
    EXPECT_EQ(PollCtrlrAddress(slot, 9, reply, number), -1);
    EXPECT_GE(MsSince(start), Timeouts(slot).addressPollMs - 1.0);
}

// Leftovers of an earlier exchange (a reply that came too late, line noise) wait in the port when
// the next request goes out: the address poll and the identification request drop them first,
// so they are never taken as the start of the new reply.
TEST_F(PeerTest, PollAndIdentificationDropWhatWaitsBeforeTheirRequest) {
    const auto strayWaiting = [&] {
        peer.Write({0x07, 0x21, 0x00, 0xEE, 'X', 'Y'});
        for (int i = 0; i < 100 && PortAvailable(slot) < 6; ++i) WaitPortData(slot, 50);
        ASSERT_EQ(PortAvailable(slot), 6);
    };

    strayWaiting();
    uint8_t reply[4] = {};
    int number = -1;
    Peer([&] {
        peer.Read(4);
        peer.Write(WithSum({0x07, 0x21, 0x5A}));
    });
    EXPECT_EQ(PollCtrlrAddress(slot, 7, reply, number), 1);
    JoinPeer();
    EXPECT_EQ(Bytes(reply, 4), WithSum({0x07, 0x21, 0x5A}));

    strayWaiting();
    Peer([&] {
        peer.Read(5);
        peer.Write({'A', 'B', 0x00});
    });
    std::vector<char> text(kIdentTextSize, 'x');
    EXPECT_EQ(ReadIdentText(slot, 7, text.data()), 1);
    JoinPeer();
    EXPECT_STREQ(text.data(), "AB");
}

TEST_F(PeerTest, IdentTextInPiecesIsAssembledAndConverted) {
    std::vector<uint8_t> sent;
    Peer([&] {
        sent = peer.Read(5);
        peer.Write({'T', 'R', 'K', 0x8D});
        PtyPeer::SleepMs(120);
        peer.Write({'\r', '\n', 0xE5, 0xF1});
        PtyPeer::SleepMs(120);
        peer.Write({0xFC, 0x41, 0x00});
    });
    std::vector<char> text(kIdentTextSize, 'x');
    EXPECT_EQ(ReadIdentText(slot, 0x11, text.data()), 1);
    JoinPeer();
    auto expected = WithSum({0x60, 0x11, 0x00});
    expected.push_back(0x31);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(std::string(text.data()), std::string("TRK\xCD\r\n\xF5\xB8\xB9\x41"));
}

TEST_F(PeerTest, IdentTextWithoutZeroIsPartialAndNothingIsTimeout) {
    Peer([&] {
        peer.Read(5);
        peer.Write({'A', 'B', 0xE5});
    });
    std::vector<char> text(kIdentTextSize, 'x');
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), -2);
    JoinPeer();
    EXPECT_EQ(std::string(text.data()), "AB\xF5");

    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), -1);
    EXPECT_STREQ(text.data(), "");
}

TEST_F(PeerTest, IdentTextNeverOverflowsItsBuffer) {
    // Exactly fits: 1023 characters and the zero.
    Peer([&] {
        peer.Read(5);
        std::vector<uint8_t> t(kIdentTextSize - 1, 'a');
        t.push_back(0);
        peer.WriteDrained(t);
    });
    std::vector<char> text(kIdentTextSize); // exact size: AddressSanitizer catches any overrun
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), 1);
    JoinPeer();
    EXPECT_EQ(std::string(text.data()).size(), static_cast<size_t>(kIdentTextSize - 1));

    // Too long: kept up to the buffer, reported incomplete, still terminated.
    Peer([&] {
        peer.Read(5);
        std::vector<uint8_t> t(1500, 'b');
        t.push_back(0);
        peer.WriteDrained(t);
    });
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), -2);
    JoinPeer();
    EXPECT_EQ(std::string(text.data()), std::string(kIdentTextSize - 1, 'b'));
}

TEST_F(PeerTest, BlockWriteAckedTakesAnyStatusLength) {
    std::vector<uint8_t> cmd, rest;
    Peer([&] {
        cmd = peer.Read(4);
        rest = peer.Read(8 + 3);
        peer.Write({0x00, 0x44, 0x55});
    });
    const uint8_t data[] = {1, 2, 3};
    const auto start = Clock::now();
    EXPECT_EQ(BlockWriteAcked(slot, 4, 0x4100, 3, data), 1);
    EXPECT_GE(MsSince(start), 69.0) << "20 ms after the command, 50 ms before the data frame";
    JoinPeer();
    EXPECT_EQ(cmd, WithSum({0x60, 4, 0x40}));
    auto expected = WithSum({0x01, 0x00, 0x41, 0x00, 0x00, 1, 3});
    for (uint8_t b : WithSum({2, 3})) expected.push_back(b);
    EXPECT_EQ(rest, expected);

    Peer([&] {
        for (int i = 0; i < 2; ++i) {
            peer.Read(15);
            peer.Write({0x03, 0x00});
        }
    });
    EXPECT_EQ(BlockWriteAcked(slot, 4, 0x4100, 3, data), -1);
    JoinPeer();

    EXPECT_EQ(BlockWriteAcked(slot, 4, 0x4100, 3, data), -1); // no answer
}

// Concatenated frames, as the peer reads them off the line.
std::vector<uint8_t> Frames(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST_F(PeerTest, ServiceExchangesSendTheirFixedFrames) {
    std::vector<uint8_t> sent;
    // Restart: the byte 0x01 at the 24-bit address 0x88FFFF, space 0, answered by 2 bytes.
    Peer([&] {
        sent = peer.Read(12);
        peer.Write({0x00, 0x00});
    });
    EXPECT_EQ(RestartCtrlr(slot, 9), 1);
    JoinPeer();
    EXPECT_EQ(sent,
              Frames({WithSum({0x60, 9, 0x40}), WithSum({0x01, 0x00, 0xFF, 0x88, 0xFF, 0x01, 1})}));

    // Pulse simulator: the switch bit alone at 0x24 in space 2; nothing is read first.
    for (const bool on : {true, false}) {
        Peer([&] {
            sent = peer.Read(12);
            peer.Write({0x00, 0x00});
        });
        EXPECT_EQ(SetPulseSimulator(slot, 9, on), 1);
        JoinPeer();
        const uint8_t value = on ? 0x40 : 0x00;
        EXPECT_EQ(sent, Frames({WithSum({0x60, 9, 0x42}),
                                WithSum({0x01, 0x00, 0x00, 0x00, 0x24, value, 1})}));
    }

    // Its state: one byte at 0x24, space 2.
    for (const auto& [status, state] : {std::pair<uint8_t, int>{0x41, 1}, {0xBF, 0}}) {
        Peer([&] {
            sent = peer.Read(12);
            peer.Write(WithSum({status}));
        });
        EXPECT_EQ(GetPulseSimulator(slot, 9), state);
        JoinPeer();
        EXPECT_EQ(sent, Frames({WithSum({0x60, 9, 0x4A}),
                                WithSum({0x01, 0x00, 0x00, 0x00, 0x24, 0x00, 1})}));
    }

    // Temperature sensor: three bytes from 0x25, space 2.
    Peer([&] {
        sent = peer.Read(12);
        peer.Write(WithSum({0x34, 0x02, 0xEC}));
    });
    uint8_t adc[3] = {};
    EXPECT_TRUE(ReadTempAdc(slot, 9, adc));
    JoinPeer();
    EXPECT_EQ(sent,
              Frames({WithSum({0x60, 9, 0x4A}), WithSum({0x01, 0x00, 0x00, 0x00, 0x25, 0x00, 3})}));
    EXPECT_EQ(Bytes(adc, 3), (std::vector<uint8_t>{0x34, 0x02, 0xEC}));

    // Sizes record: seven bytes at 0x3040, space 0; a failed read zeroes them.
    Peer([&] {
        sent = peer.Read(12);
        peer.Write(WithSum({58, 2, 2, 19, 16, 69, 12}));
    });
    std::array<uint8_t, 7> sizes{};
    EXPECT_EQ(ReadStructSizes(slot, 9, sizes.data()), 1);
    JoinPeer();
    EXPECT_EQ(sent,
              Frames({WithSum({0x60, 9, 0x48}), WithSum({0x01, 0x00, 0x30, 0x00, 0x40, 0x00, 7})}));
    EXPECT_EQ(sizes, (std::array<uint8_t, 7>{58, 2, 2, 19, 16, 69, 12}));
    EXPECT_EQ(ReadStructSizes(slot, 9, sizes.data()), -1);
    EXPECT_EQ(sizes, (std::array<uint8_t, 7>{}));
}

TEST_F(PeerTest, WriteDeviceImageSendsEveryRecordInOrder) {
    // The controller's sizes differ from the image's in each way the record rules tell apart:
    // a longer parameter block, shorter settings, optional blocks only on the controller, a
    // 1-byte side state and longer channel registers.
    const std::vector<uint8_t> controller{7, 1, 1, 2, 2, 4, 1};
    const std::vector<uint8_t> header{5, 1, 1, 3, 0, 2, 3};
    std::vector<uint8_t> image(header);
    image.resize(7 + 5 + 16 * 3 + 2 * 3 + 16 * 2 + 256 + 57);
    for (size_t i = 7; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);

    struct Chunk {
        uint32_t address;
        std::vector<uint8_t> data;
        bool operator==(const Chunk&) const = default;
    };
    std::vector<Chunk> expected;
    auto expect = [&](size_t address, std::vector<uint8_t> data) {
        for (size_t at = 0; at < data.size(); at += 40) {
            const size_t end = std::min(data.size(), at + 40);
            expected.push_back({static_cast<uint32_t>(address + at),
                                {data.begin() + static_cast<std::ptrdiff_t>(at),
                                 data.begin() + static_cast<std::ptrdiff_t>(end)}});
        }
    };
    auto stored = [&](size_t pos, size_t n, size_t target) {
        std::vector<uint8_t> v(image.begin() + static_cast<std::ptrdiff_t>(pos),
                               image.begin() +
                                   static_cast<std::ptrdiff_t>(pos + std::min(n, target)));
        v.resize(target, 0);
        return v;
    };
    auto params = stored(7, 5, 7);
    params.back() = ChecksumRot8(params.data(), 6);
    expect(0x3101, params);
    for (size_t n = 0; n < 16; ++n) expect(0x1000 + 0x100 * n, stored(12 + 3 * n, 3, 3));
    expect(0x0000, {0, 0});
    expect(0x0100, {0, 0});
    expect(0x4000, stored(60, 3, 1));
    expect(0x4100, stored(63, 3, 1));
    for (size_t n = 0; n < 16; ++n) expect(0x2000 + 0x100 * n, stored(66 + 2 * n, 2, 4));
    expect(0x5100, stored(98, 256, 256));
    expect(0x3000, stored(354, 57, 57));

    std::vector<uint8_t> sizesRequest;
    std::vector<Chunk> chunks;
    std::string fault;
    Peer([&] {
        sizesRequest = peer.Read(12);
        peer.Write(WithSum(controller));
        for (;;) {
            const auto cmd = peer.Read(4, 1000);
            if (cmd.empty()) return;
            const auto hdr = peer.Read(8);
            if (cmd != WithSum({0x60, 6, 0x40}) || hdr.size() != 8 || hdr[0] != 0x01 ||
                hdr[1] != 0x00 || hdr[7] != ChecksumRot8(hdr.data(), 7)) {
                fault = "bad command or write header";
                return;
            }
            Chunk c{static_cast<uint32_t>(hdr[3] << 16 | hdr[2] << 8 | hdr[4]), {hdr[5]}};
            const size_t n = hdr[6];
            if (n >= 2) {
                const auto data = peer.Read(n);
                if (data.size() != n || data.back() != ChecksumRot8(data.data(), n - 1)) {
                    fault = "bad data frame";
                    return;
                }
                c.data.insert(c.data.end(), data.begin(), data.end() - 1);
            }
            chunks.push_back(c);
            peer.Write(n == 1 ? std::vector<uint8_t>{0x00, 0x00} : std::vector<uint8_t>{0x00});
        }
    });
    SizesRecord ctrlSizes;
    EXPECT_EQ(WriteDeviceImage(slot, 6, image.data(), image.size(), {}, &ctrlSizes), 1);
    JoinPeer();
    EXPECT_EQ(fault, "");
    EXPECT_EQ(sizesRequest,
              Frames({WithSum({0x60, 6, 0x48}), WithSum({0x01, 0x00, 0x30, 0x00, 0x40, 0x00, 7})}));
    ASSERT_EQ(chunks.size(), expected.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].address, expected[i].address) << "chunk " << i;
        EXPECT_EQ(chunks[i].data, expected[i].data) << "chunk " << i;
    }
    // The channel settings went with the image's length, which the caller now holds.
    EXPECT_EQ(ctrlSizes.settsLength, 3);
}

TEST_F(PeerTest, WriteDeviceImageRefusesShortImagesBeforeAnyTraffic) {
    std::vector<uint8_t> image(6, 1);
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size()), -1);
    image = {58, 2, 2, 19, 0, 69, 12};
    image.resize(1810 - 1); // one byte short of what its header announces
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size()), -1);
    EXPECT_EQ(WriteDeviceImage(slot, 1, nullptr, 0), -1);
    image = {58, 2, 2, 19, 0, 0, 12}; // no channel registers: would zero the totalisers
    image.resize(1810);
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size()), -1);
    EXPECT_TRUE(peer.ReadUntilQuiet(100).empty());
}

} // namespace
} // namespace velmar::test
