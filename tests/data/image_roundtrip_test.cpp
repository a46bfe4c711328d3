// A saved image round trip end to end: saved from one simulated controller over a pseudo-
// terminal, loaded into a second one, and the two memories are equal.
#include "data/device_image.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data_test_support.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "sim/core/bus_simulator.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

class ImageRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override {
        SetExchangeLogPath(dir.File("port.out").c_str());
        StartPortLayer();
    }
    void TearDown() override { StopPortLayer(); }

    // Opens the tool's end of `bus` at 4800 baud; 0 on failure.
    PortSlot Open(sim::BusSimulator& bus) {
        PortSlot slot = 0;
        if (OpenPort(slot, bus.SlavePath().c_str()) != 0) return 0;
        if (ConfigurePort(slot, 4800, 8, 'N', 1) != 0) {
            ClosePort(slot);
            return 0;
        }
        return slot;
    }

    test::TempDir dir;
};

// Gives every byte the image carries a value the default controller does not have, keeping the
// parameter block (and so the line speed and addresses) and its checksum sound.
void Scramble(sim::Controller& c) {
    auto& er = c.Space(0);
    uint8_t v = 0x31;
    auto fill = [&](int address, int n) {
        for (int i = 0; i < n; ++i) er[static_cast<size_t>(address + i)] = v += 7;
    };
    for (int n = 0; n < kChannelCount; ++n) {
        fill(ChannelAddress(addr::kChannelSettsBase, n), 19);
        fill(ChannelAddress(addr::kChannelRegsBase, n), 69);
    }
    fill(addr::kSideStateA, 12);
    fill(addr::kSideStateB, 12);
    fill(addr::kMakeBlock, 256);
    fill(addr::kBlock3000, 57);
    er[addr::kParams + 25] = 0x42; // SlowLoad
    er[addr::kParams + 57] = ChecksumRot8(&er[addr::kParams], 57);
}

TEST_F(ImageRoundTrip, SaveFromOneSimulatorLoadIntoAnother) {
    sim::BusSimulator source;
    ASSERT_EQ(source.Start(), 0);
    {
        auto lock = source.Lock();
        Scramble(*source.Find(1));
    }
    const std::string path = dir.File("image.bin");
    {
        const PortSlot slot = Open(source);
        ASSERT_NE(slot, 0);
        int ctrl = 1;
        LiveRecordStore store(slot, ctrl);
        int lastDone = -1;
        std::string error;
        EXPECT_EQ(SaveDeviceImage(
                      store, path, [&](int d, int) { lastDone = d; }, &error),
                  ImageSaveResult::Saved)
            << error;
        EXPECT_EQ(lastDone, 1810 - 7);
        ClosePort(slot);
    }
    source.Stop();

    std::vector<uint8_t> img;
    ASSERT_EQ(LoadImageFile(path, img), ImageLoadResult::Loaded);
    ASSERT_EQ(img.size(), 1810u);

    sim::BusSimulator target;
    ASSERT_EQ(target.Start(), 0);
    int restartsBefore = 0;
    {
        auto lock = target.Lock();
        restartsBefore = target.Find(1)->restarts;
    }
    const PortSlot slot = Open(target);
    ASSERT_NE(slot, 0);
    int calls = 0;
    EXPECT_EQ(WriteImageToController(slot, 1, img,
                                     [&](int, int total) {
                                         ++calls;
                                         EXPECT_EQ(total, ImageWriteTotal(img.data()));
                                     }),
              ImageWriteResult::Written);
    EXPECT_GT(calls, 0);
    ClosePort(slot);
    target.Stop();

    const auto& a = source.Find(1)->Space(0);
    const auto& b = target.Find(1)->Space(0);
    ASSERT_EQ(a.size(), b.size());
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && differing++ == 0) first = i;
    }
    EXPECT_EQ(differing, 0u) << "first difference at 0x" << std::hex << first;
    EXPECT_GT(target.Find(1)->restarts, restartsBefore) << "restarted after the write";
}

TEST_F(ImageRoundTrip, SaveFailsCleanlyWhenTheControllerIsSilent) {
    sim::BusSimulator bus;
    ASSERT_EQ(bus.Start(), 0);
    const std::string path = dir.File("kept.bin");
    test::WriteBytes(path, {7, 7, 7});
    const PortSlot slot = Open(bus);
    ASSERT_NE(slot, 0);
    {
        auto lock = bus.Lock();
        bus.GetFaults().noAnswer = true;
    }
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    EXPECT_EQ(SaveDeviceImage(store, path), ImageSaveResult::NoLink);
    EXPECT_EQ(test::ReadBytes(path), (std::vector<uint8_t>{7, 7, 7}));
    ClosePort(slot);
    bus.Stop();
}

} // namespace
} // namespace velmar
