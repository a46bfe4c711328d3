// The controller's receiver: checksum, framing of every transaction kind, and resynchronisation.
#include "sim/core/bus_simulator.h"
#include "sim/core/frame_receiver.h"
#include "sim/raw_line.h"

#include <gtest/gtest.h>

namespace velmar::sim {
namespace {

using test::Bytes;

TEST(SimChecksum, KnownValues) {
    const uint8_t ff = 0xFF, zero = 0x00, high = 0x80;
    EXPECT_EQ(SimChecksum(nullptr, 0), 0xFF);
    EXPECT_EQ(SimChecksum(&ff, 1), 0x00);
    EXPECT_EQ(SimChecksum(&zero, 1), 0xFF);
    EXPECT_EQ(SimChecksum(&high, 1), 0xFE);
    const uint8_t frame[] = {0x60, 0x01, 0x21};
    EXPECT_EQ(SimChecksum(frame, 3), test::Checksum(Bytes(frame, frame + 3)));
}

class ReceiverTest : public ::testing::Test {
  protected:
    std::vector<Request> Feed(const Bytes& bytes, SimClock::duration step = {}) {
        std::vector<Request> out;
        for (uint8_t b : bytes) {
            rx.Feed(b, now, out);
            now += step;
        }
        return out;
    }
    FrameReceiver rx;
    SimClock::time_point now = SimClock::now();
};

TEST_F(ReceiverTest, RecognisesEveryTransaction) {
    auto out = Feed(test::Command(5, 0x21));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Poll);
    EXPECT_EQ(out[0].lineAddress, 5);

    out = Feed(test::Join(test::Command(5, 0x00), {0x31}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Ident);

    out = Feed(test::Join(test::Command(5, 0x4A), test::ReadHeader(0x123456, 40)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Read);
    EXPECT_EQ(out[0].Space(), 2);
    EXPECT_EQ(out[0].address, 0x123456u);
    EXPECT_EQ(out[0].count, 40);

    out = Feed(test::Join(test::Command(5, 0x40), test::WriteFrames(0x3101, {7})));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Write);
    EXPECT_EQ(out[0].data, Bytes{7});

    const Bytes data{1, 2, 3, 0x60, 5, 0x21};
    out = Feed(test::Join(test::Command(5, 0x44), test::WriteFrames(0x88FFFF, data)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Space(), 4);
    EXPECT_EQ(out[0].address, 0x88FFFFu);
    EXPECT_EQ(out[0].data, data);
    EXPECT_EQ(rx.CommandFrames(), 5u);
    EXPECT_TRUE(rx.Idle());
}

TEST_F(ReceiverTest, DataThatLooksLikeAFrameStaysData) {
    // A write whose data frame carries a complete poll frame for controller 1: the receiver knows
    // the data frame's length and must not see a poll in it.
    const Bytes poll = test::Command(1, 0x21);
    const Bytes data = test::Join(Bytes(1, 0x00), poll);
    auto out = Feed(test::Join(test::Command(9, 0x40), test::WriteFrames(0x1000, data)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Write);
    EXPECT_EQ(out[0].lineAddress, 9);
    // A read header whose address bytes spell 0x60 is a header, too.
    out = Feed(test::Join(test::Command(9, 0x48), test::ReadHeader(0x6001, 1)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].address, 0x6001u);
}

TEST_F(ReceiverTest, ResynchronisesAfterGarbage) {
    // Garbage, a frame with a bad checksum, then a good poll.
    Bytes bad = test::Command(1, 0x21);
    bad[3] ^= 1;
    auto out = Feed(test::Join(test::Join({0x00, 0x60, 0x13, 0x60}, bad), test::Command(1, 0x21)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Poll);

    // A read command whose header never comes: the next command frame is still found.
    out = Feed(test::Join(test::Command(1, 0x48), test::Command(1, 0x21)));
    ASSERT_EQ(out.size(), 0u); // 8 bytes not yet examined as a header...
    out = Feed(test::ReadHeader(0x10, 1));
    // ...the 8 bytes fail as a header, the poll inside them is found, and the read header that
    // follows has lost its command frame.
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Poll);

    // An identification request followed by something other than 0x31 is dropped.
    out = Feed(test::Join(test::Join(test::Command(1, 0x00), {0x32}), test::Command(1, 0x21)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Poll);
}

TEST_F(ReceiverTest, RefusesBadHeadersAndDataFrames) {
    Bytes header = test::WriteFrames(0x1000, {1, 2, 3});
    header.back() ^= 0xFF; // bad data frame checksum
    EXPECT_TRUE(Feed(test::Join(test::Command(1, 0x40), header)).empty());

    // n = 65 does not fit the controller's buffer; the header and its data are dropped.
    Bytes big(65, 0x11);
    auto out = Feed(test::Join(test::Join(test::Command(1, 0x40), test::WriteFrames(0x1000, big)),
                               test::Command(1, 0x21)));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, RequestKind::Poll);
}

TEST_F(ReceiverTest, LongPauseAbandonsTheTransaction) {
    Bytes frames = test::Join(test::Command(1, 0x40), test::WriteFrames(0x1000, {1, 2, 3}));
    // Header, then a pause well beyond the frame gap before the data frame.
    std::vector<Request> out;
    for (size_t i = 0; i < 12; ++i) rx.Feed(frames[i], now, out);
    now += kFrameGap + std::chrono::milliseconds(1);
    for (size_t i = 12; i < frames.size(); ++i) rx.Feed(frames[i], now, out);
    EXPECT_TRUE(out.empty());
    // The tool's own 50 ms pause between header and data frame is fine.
    for (size_t i = 0; i < 12; ++i) rx.Feed(frames[i], now, out);
    now += std::chrono::milliseconds(50);
    for (size_t i = 12; i < frames.size(); ++i) rx.Feed(frames[i], now, out);
    EXPECT_EQ(out.size(), 1u);
}

} // namespace
} // namespace velmar::sim
