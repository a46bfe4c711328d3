// Every transaction and service exchange end to end over a pseudo-terminal against the
// in-process controller simulator, including the faults it can inject.
#include "data/device_image.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_ready.h"
#include "protocol/read_retry.h"
#include "sim_line_fixture.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace velmar::test {
namespace {

class SimTest : public SimLineTest {
  protected:
    std::vector<uint8_t>& Mem(int space = 0) { return sim.Find(1)->Space(space); }
    void SetMem(int address, const std::vector<uint8_t>& bytes, int space = 0) {
        auto lock = sim.Lock();
        std::copy(bytes.begin(), bytes.end(), Mem(space).begin() + address);
    }
};

TEST_F(SimTest, ReadsExplicitAndSelfSized) {
    std::array<uint8_t, 7> sizes{};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kSizes, 7, sizes.data(), kSpaceER), 7);
    EXPECT_EQ(Bytes(sizes.data(), 7), Memory(addr::kSizes, 7));

    // Self-sized: the length byte at 0x3100 tells how much follows; it is not stored.
    std::array<uint8_t, kSelfSizedMax> params{};
    const int length = Memory(addr::kParamsLength, 1)[0];
    EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kParamsLength, -1, params.data(), kSpaceER), length);
    EXPECT_EQ(Bytes(params.data(), static_cast<size_t>(length)), Memory(addr::kParams, length));

    // 69 bytes: two chunks.
    std::array<uint8_t, 69> regs{};
    const int regsAt = ChannelAddress(addr::kChannelRegsBase, 3);
    EXPECT_EQ(ReadCtrlrMem(slot, 1, regsAt, 69, regs.data(), kSpaceER), 69);
    EXPECT_EQ(Bytes(regs.data(), 69), Memory(regsAt, 69));

    // An empty self-sized record.
    SetMem(0x6100, {0x00});
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x6100, 0, params.data(), kSpaceER), 0);

    // Other spaces.
    SetMem(0x40, {0xDE, 0xAD}, 4);
    uint8_t im[2] = {};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, 0x40, 2, im, kSpaceIM), 2);
    EXPECT_EQ(Bytes(im, 2), (std::vector<uint8_t>{0xDE, 0xAD}));
}

TEST_F(SimTest, WritesOfOneTwoAndManyBytes) {
    const uint8_t one[] = {0x5A};
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 1, one, kSpaceER), 1);
    EXPECT_EQ(Memory(0x6000, 1), Bytes(one, 1));

    const uint8_t two[] = {0x01, 0xFE};
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6010, 2, two, kSpaceER), 1);
    EXPECT_EQ(Memory(0x6010, 2), Bytes(two, 2));

    std::vector<uint8_t> many(81);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(0xC0 ^ i);
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6020, 81, many.data(), kSpaceER), 1);
    EXPECT_EQ(Memory(0x6020, 81), many);

    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x28, 2, two, kSpaceIR), 1);
    EXPECT_EQ(Memory(0x28, 2, 2), Bytes(two, 2));
}

TEST_F(SimTest, RefusedWriteAndMissingOrBrokenReplies) {
    WithFaults([](sim::Faults& f) { f.writeStatusAddress = 0x6000; });
    const uint8_t two[] = {1, 2};
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 2, two, kSpaceER), -1);
    WithFaults([](sim::Faults& f) { f.writeStatusAddress = -1; });

    uint8_t buf[kSelfSizedMax] = {};
    WithFaults([](sim::Faults& f) { f.noAnswer = true; });
    EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kParamsLength, -1, buf, kSpaceER), -1);
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 2, two, kSpaceER), -1);
    EXPECT_EQ(RestartCtrlr(slot, 1), -1);
    EXPECT_EQ(GetPulseSimulator(slot, 1), -1);
    EXPECT_FALSE(ReadTempAdc(slot, 1, buf));
}

TEST_F(SimTest, AddressPollAndCorruptedReplies) {
    uint8_t reply[4] = {};
    int number = -1;
    EXPECT_EQ(PollCtrlrAddress(slot, 1, reply, number), 1);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(PollCtrlrAddress(slot, 9, reply, number), -1);

    number = -1;
    EXPECT_EQ(PollCtrlrAddress(slot, kReserveAddress, reply, number), 1);
    EXPECT_EQ(number, 1);

    WithFaults([](sim::Faults& f) { f.wrongPollEcho = true; });
    number = -1;
    EXPECT_EQ(PollCtrlrAddress(slot, kReserveAddress, reply, number), -2);
    EXPECT_EQ(number, 1) << "the number is taken even with a wrong echo";
    WithFaults([](sim::Faults& f) { f.wrongPollEcho = false; });

    WithFaults([](sim::Faults& f) { f.corruptReplies = 1; });
    EXPECT_EQ(PollCtrlrAddress(slot, 1, reply, number), -2);
    EXPECT_EQ(PollCtrlrAddress(slot, 1, reply, number), 1);

    // A corrupted status block reads as a refusal until the chunk, sent again, is accepted;
    // with no retries the write fails.
    const uint8_t two[] = {1, 2};
    WithFaults([](sim::Faults& f) { f.corruptReplies = 1; });
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 2, two, kSpaceER), 1);
    SetReadRetries(slot, 0);
    WithFaults([](sim::Faults& f) { f.corruptReplies = 1; });
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 2, two, kSpaceER), -1);
    SetReadRetries(slot, kDefaultReadRetries);
    EXPECT_EQ(WriteCtrlrMem(slot, 1, 0x6000, 2, two, kSpaceER), 1);
}

TEST_F(SimTest, IdentificationText) {
    std::string expected;
    {
        auto lock = sim.Lock();
        for (const char c : sim.Find(1)->identText)
            expected += static_cast<char>(Cp866ToCp1251(static_cast<uint8_t>(c)));
    }
    std::vector<char> text(kIdentTextSize);
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), 1);
    EXPECT_EQ(std::string(text.data()), expected);

    WithFaults([](sim::Faults& f) { f.identWithoutZero = true; });
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), -2);
    EXPECT_EQ(std::string(text.data()), expected);
    WithFaults([](sim::Faults& f) {
        f.identWithoutZero = false;
        f.noIdentAnswer = true;
    });
    EXPECT_EQ(ReadIdentText(slot, 1, text.data()), -1);
    EXPECT_STREQ(text.data(), "");
}

// The switch is sent once: a status lost on the way is settled by reading the status byte, and a
// refusal leaves it as it was, reported so.
TEST_F(SimTest, APulseSimulatorSwitchWhoseStatusWentAstrayIsReadBackNotResent) {
    constexpr int kSwitchWrites = 1;
    SetMem(addr::kStatusIR, {0x00}, 2);
    WithFaults([](sim::Faults& f) { f.dropReplies = 1; });
    auto before = sim.FramesByKind();
    EXPECT_EQ(SetPulseSimulator(slot, 1, true), 1);
    auto after = sim.FramesByKind();
    EXPECT_EQ(after.writes - before.writes, static_cast<uint64_t>(kSwitchWrites));
    EXPECT_GE(after.reads - before.reads, 1u);
    EXPECT_EQ(Memory(addr::kStatusIR, 1, 2)[0] & 0x40, 0x40);

    WithFaults([](sim::Faults& f) { f.writeStatusAddress = addr::kStatusIR; });
    before = sim.FramesByKind();
    EXPECT_EQ(SetPulseSimulator(slot, 1, false), -1);
    after = sim.FramesByKind();
    EXPECT_EQ(after.writes - before.writes, static_cast<uint64_t>(kSwitchWrites));
    WithFaults([](sim::Faults& f) { f.writeStatusAddress = -1; });
}

TEST_F(SimTest, PulseSimulatorTemperatureRestartAndSizes) {
    SetMem(addr::kStatusIR, {0x41}, 2);
    EXPECT_EQ(GetPulseSimulator(slot, 1), 1);
    SetMem(addr::kStatusIR, {0xBF}, 2);
    EXPECT_EQ(GetPulseSimulator(slot, 1), 0);
    EXPECT_EQ(SetPulseSimulator(slot, 1, true), 1);
    EXPECT_EQ(Memory(addr::kStatusIR, 1, 2)[0] & 0x40, 0x40);
    EXPECT_EQ(GetPulseSimulator(slot, 1), 1);
    EXPECT_EQ(SetPulseSimulator(slot, 1, false), 1);
    EXPECT_EQ(GetPulseSimulator(slot, 1), 0);

    uint8_t adc[3] = {};
    EXPECT_TRUE(ReadTempAdc(slot, 1, adc));
    EXPECT_EQ(Bytes(adc, 3), Memory(addr::kTempAdcIR, 3, 2));

    int before = 0;
    {
        auto lock = sim.Lock();
        before = sim.Find(1)->restarts;
    }
    EXPECT_EQ(RestartCtrlr(slot, 1), 1);
    {
        auto lock = sim.Lock();
        EXPECT_EQ(sim.Find(1)->restarts, before + 1);
    }

    std::array<uint8_t, 7> sizes{};
    EXPECT_EQ(ReadStructSizes(slot, 1, sizes.data()), 1);
    std::array<uint8_t, 7> expected{};
    const auto m = Memory(addr::kSizes, 7);
    std::copy(m.begin(), m.end(), expected.begin());
    EXPECT_EQ(sizes, expected);
    EXPECT_GT(sizes[0], 0);

    WithFaults([](sim::Faults& f) { f.noAnswer = true; });
    EXPECT_EQ(ReadStructSizes(slot, 1, sizes.data()), -1);
    EXPECT_EQ(sizes, (std::array<uint8_t, 7>{}));
}

// The wait after a restart gives the controller a moment: one poll then finds it listening.
TEST_F(SimTest, TheFirstPollAfterARestartFindsTheControllerListening) {
    WithFaults([](sim::Faults& f) { f.deafAfterRestartMs = 10; });
    ASSERT_EQ(RestartCtrlr(slot, 1), 1);
    const uint64_t before = sim.FramesSeen();
    EXPECT_EQ(AwaitCtrlrAnswer(slot, 1), 1);
    EXPECT_EQ(sim.FramesSeen() - before, 1u);
}

// The image a controller would give, with its parameter record cut to `paramsLength`.
std::vector<uint8_t> ImageWithParamsOf(const std::vector<uint8_t>& full, int paramsLength) {
    std::vector<uint8_t> image(full.begin(), full.begin() + 7);
    const int stored = full[0];
    image[0] = static_cast<uint8_t>(paramsLength);
    image.insert(image.end(), full.begin() + 7, full.begin() + 7 + paramsLength);
    image.insert(image.end(), full.begin() + 7 + stored, full.end());
    return image;
}

TEST_F(SimTest, WholeImageWithShortParameterRecordIsPaddedAndChecksummed) {
    std::vector<uint8_t> full;
    {
        auto lock = sim.Lock();
        full = sim.Find(1)->ImageBytes();
    }
    ASSERT_GT(full.size(), 7u);
    const int ctrlParams = full[0];
    ASSERT_GT(ctrlParams, 10);
    auto image = ImageWithParamsOf(full, ctrlParams - 8);
    // Make every record differ from what the controller holds, so the write shows.
    for (size_t i = 7 + static_cast<size_t>(image[0]); i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(image[i] ^ 0x5A);
    for (size_t i = 7; i < 7 + 4; ++i) image[i] = static_cast<uint8_t>(0x10 + i);

    std::vector<int> progress;
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size(),
                               [&](int done) { progress.push_back(done); }),
              1);

    // The parameter block: stored bytes, zeros up to the controller's length, fresh checksum.
    const auto params = Memory(addr::kParams, ctrlParams);
    std::vector<uint8_t> expected(image.begin() + 7, image.begin() + 7 + image[0]);
    expected.resize(static_cast<size_t>(ctrlParams), 0);
    expected.back() = ChecksumRot8(expected.data(), expected.size() - 1);
    EXPECT_EQ(params, expected);

    // The other records, in image order.
    const uint8_t* s = image.data();
    size_t pos = 7 + s[0];
    for (int ch = 0; ch < 16; ++ch, pos += s[3])
        EXPECT_EQ(Memory(ChannelAddress(addr::kChannelSettsBase, ch), s[3]),
                  Bytes(image.data() + pos, s[3]));
    pos += 2u * s[4];
    EXPECT_EQ(Memory(addr::kSideStateA, s[6]), Bytes(image.data() + pos, s[6]));
    EXPECT_EQ(Memory(addr::kSideStateB, s[6]), Bytes(image.data() + pos + s[6], s[6]));
    pos += 2u * s[6];
    for (int ch = 0; ch < 16; ++ch, pos += s[5])
        EXPECT_EQ(Memory(ChannelAddress(addr::kChannelRegsBase, ch), s[5]),
                  Bytes(image.data() + pos, s[5]));
    EXPECT_EQ(Memory(addr::kMakeBlock, 256), Bytes(image.data() + pos, 256));
    EXPECT_EQ(Memory(addr::kBlock3000, 57), Bytes(image.data() + pos + 256, 57));
    EXPECT_EQ(pos + 256 + 57, image.size());

    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), static_cast<int>(image.size()) - 7);
}

TEST_F(SimTest, WholeImageStopsAtARefusedRecord) {
    std::vector<uint8_t> image;
    {
        auto lock = sim.Lock();
        image = sim.Find(1)->ImageBytes();
    }
    WithFaults([](sim::Faults& f) { f.writeStatusAddress = addr::kSideStateA; });
    {
        // Other bytes than the image there: a refused chunk found written would be done.
        auto lock = sim.Lock();
        sim.Find(1)->Space(0)[addr::kSideStateA] ^= 0xFF;
    }
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size()), -1);
    WithFaults([](sim::Faults& f) { f.noAnswer = true; });
    EXPECT_EQ(WriteDeviceImage(slot, 1, image.data(), image.size()), -1);
}

} // namespace
} // namespace velmar::test
