// The builders end to end: over a pseudo-terminal against the controller simulator, and against
// a demo image file; the results are checked in the simulated memory and in the file.
#include "../data/data_test_support.h"
#include "data/default_image.h"
#include "data/demo_image.h"
#include "data/demo_store.h"
#include "data/fiscal_listing.h"
#include "data/live_store.h"
#include "data/memory_store.h"
#include "data/meter_settings.h"
#include "data/report.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace velmar {
namespace {

using test::TempDir;

class BuildersOnSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        SetExchangeLogPath(dir.File("port.out").c_str());
        StartPortLayer();
    }
    void TearDown() override {
        if (slot != 0) ClosePort(slot);
        bus.reset();
        StopPortLayer();
    }

    // Starts a bus with one controller at `address` and opens the tool's end at 4800 baud.
    void StartBus(int address) {
        sim::Options options;
        options.addresses = {address};
        bus = std::make_unique<sim::BusSimulator>(options);
        ASSERT_EQ(bus->Start(), 0);
        ASSERT_EQ(OpenPort(slot, bus->SlavePath().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
    }

    std::vector<uint8_t> Memory(int address) {
        auto lock = bus->Lock();
        return bus->Find(address)->Space(0);
    }

    TempDir dir;
    std::unique_ptr<sim::BusSimulator> bus;
    PortSlot slot = 0;
};

TEST_F(BuildersOnSimulator, FactoryDefaultsRewriteTheController) {
    StartBus(7);
    {
        auto lock = bus->Lock();
        auto& er = bus->Find(7)->Space(0);
        for (int n = 0; n < kChannelCount; ++n) {
            er[static_cast<size_t>(ChannelAddress(addr::kChannelRegsBase, n) + 46)] = 0x39;
            er[static_cast<size_t>(ChannelAddress(addr::kChannelRegsBase, n) + 50)] = 0x05;
        }
    }
    int ctrl = 7;
    LiveRecordStore store(slot, ctrl);
    ASSERT_TRUE(DefaultsDeviceSupported(store));
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Nara, DefaultTopology{});
    int progressCalls = 0;
    const DefaultsWriteResult result = WriteDefaultImage(store, image, ctrl, ReplaceDemoFile(store),
                                                         [&](int, int) { ++progressCalls; });
    EXPECT_TRUE(result.Written());
    EXPECT_EQ(result.failedSteps, 0);
    EXPECT_TRUE(result.restartSent);
    EXPECT_EQ(progressCalls, 36);
    // 7 is neither side address of the image: the session goes on with side A's.
    EXPECT_EQ(ctrl, 1);

    {
        auto lock = bus->Lock();
        sim::Controller* c = bus->Find(1);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->restarts, 1);
        EXPECT_EQ(c->SideAAddress(), 1);
        EXPECT_EQ(c->SideBAddress(), 2);
        const auto& er = c->Space(0);
        EXPECT_EQ(0, std::memcmp(&er[addr::kParams], image.data(), 58));
        for (int n = 0; n < kChannelCount; ++n) {
            EXPECT_EQ(
                0, std::memcmp(&er[static_cast<size_t>(ChannelAddress(addr::kChannelSettsBase, n))],
                               image.data() + DeviceBuffer::SettsOffset(n), 19));
            const auto* regs = &er[static_cast<size_t>(ChannelAddress(addr::kChannelRegsBase, n))];
            for (int b = 0; b < 69; ++b) ASSERT_EQ(regs[b], 0) << n << ' ' << b;
        }
        EXPECT_EQ(er[addr::kMakeBlock], 0xFF); // used-channel mask 0x00FF
        EXPECT_EQ(er[addr::kMakeBlock + 1], 0x00);
        EXPECT_EQ(er[addr::kMakeBlock + 24], 15);
        for (int b = 0; b < 12; ++b) EXPECT_EQ(er[static_cast<size_t>(addr::kSideStateB + b)], 0);
    }

    // The controller answers at its new address: the report reads it back.
    DeviceBuffer back;
    EXPECT_EQ(FillReportBuffer(store, back), 0);
    EXPECT_EQ(back, image);
}

TEST_F(BuildersOnSimulator, ReportAndFiscalListingReadTheController) {
    StartBus(1);
    {
        auto lock = bus->Lock();
        auto& er = bus->Find(1)->Space(0);
        // Channel 3 (side B, hose 2 of the default two-by-two controller): 123456,7.
        const size_t regs = static_cast<size_t>(ChannelAddress(addr::kChannelRegsBase, 3));
        er[regs + 46] = 0x40;
        er[regs + 47] = 0xE2;
        er[regs + 48] = 0x01;
        er[regs + 49] = 0x00;
        er[regs + 50] = 7;
        er[regs + 2] = 0x84;
        er[regs + 3] = 0x00;
    }
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    DeviceBuffer live;
    ASSERT_EQ(FillReportBuffer(store, live), 0);

    // The same records taken straight from the simulated memory.
    std::vector<uint8_t> er = Memory(1);
    MemoryRecordStore direct(er);
    DeviceBuffer expected;
    ASSERT_EQ(FillReportBuffer(direct, expected), 0);
    EXPECT_EQ(live, expected);

    const auto lines = ReportLines(live, ctrl, true);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Фискальный счетчик  сторона Б, 2 рукав = 123456,7"),
        lines.end());
    const auto title = std::find(lines.begin(), lines.end(), "Состояние рукава Сторона Б №2");
    ASSERT_NE(title, lines.end());
    ASSERT_LT(title + 3, lines.end());
    EXPECT_EQ(title[1], "Канал активирован");
    EXPECT_EQ(title[2], "Ошибка питания");
    EXPECT_EQ(title[3], "Авария датчика");

    std::vector<std::string> fiscal;
    ASSERT_EQ(ReadFiscalLines(store, fiscal), FiscalListResult::Listed);
    ASSERT_EQ(fiscal.size(), 4u);
    const CtrlrParams p = live.Params();
    EXPECT_EQ(fiscal[0],
              "Адрес " + std::to_string(p.AdrTrk_1()) +
                  ". Рукав 1. Фискальный сумматор = " + std::to_string(live.Regs(0).FCount()) +
                  "," + std::to_string(live.Regs(0).FCMil()));
    EXPECT_EQ(fiscal[3], "Адрес " + std::to_string(p.AdrTrk_2()) +
                             ". Рукав 2. Фискальный сумматор = 123456,7");
}

TEST_F(BuildersOnSimulator, MeterTypeChangeRescalesEveryUsedChannel) {
    StartBus(1);
    std::vector<uint8_t> before = Memory(1);
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    const CtrlrParams p(&before[addr::kParams], 58);
    const int channels = p.CountSideTrk() * p.CountNozTrk();
    ASSERT_GT(channels, 0);
    const int target = p.MeterType() == 1 ? 0 : 1;
    const int factor = setts::MeterFactor(target);

    const int changed = ConvertMeterSettings(store, target, 3, channels);
    EXPECT_GE(changed, 1);

    const std::vector<uint8_t> after = Memory(1);
    for (int n = 0; n < kChannelCount; ++n) {
        const size_t at = static_cast<size_t>(ChannelAddress(addr::kChannelSettsBase, n));
        ChannelSetts old(std::span<const uint8_t>(&before[at], 19));
        const ChannelSetts now(std::span<const uint8_t>(&after[at], 19));
        if (n >= channels) {
            EXPECT_EQ(old, now) << n;
            continue;
        }
        EXPECT_EQ(now.ImpLit(), factor) << n;
        EXPECT_EQ(now.MeterPhase(), old.MeterPhase()) << n; // phase 3: channels keep theirs
        if (old.ImpLit() != factor) ScaleCounterPair(old, old.ImpLit(), factor);
        EXPECT_EQ(now.W(), old.W()) << n;
        EXPECT_EQ(now.KL(), old.KL()) << n;
    }
    auto lock = bus->Lock();
    EXPECT_EQ(bus->Find(1)->restarts, 1);
}

TEST_F(BuildersOnSimulator, ControllerWithoutAnswerFailsEveryStep) {
    StartBus(1);
    {
        auto lock = bus->Lock();
        bus->GetFaults().noAnswer = true;
    }
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    std::vector<std::string> lines;
    EXPECT_EQ(ReadFiscalLines(store, lines), FiscalListResult::ReadFailed);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(ConvertMeterSettings(store, 1, 1, 2), -1);
}

TEST(BuildersOnDemoImage, DefaultsReplaceTheDemoFileAndTheStoreReloadsIt) {
    TempDir dir;
    const std::string path = dir.File("demo_trk.bin");
    {
        auto controller = sim::Controller::MakeDefault(1);
        MemoryRecordStore memory(controller->Space(0));
        ASSERT_EQ(SaveDemoImage(memory, path), DemoBuildResult::Built);
    }
    DemoLoadResult loaded{};
    auto store = MakeDemoRecordStore(path, loaded);
    ASSERT_EQ(loaded, DemoLoadResult::Loaded);

    DefaultTopology t;
    t.sides = 1;
    t.nozzles = 3;
    t.sideA = 9;
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Shelf, t);
    int ctrl = 1;
    EXPECT_TRUE(WriteDefaultImage(*store, image, ctrl, ReplaceDemoFile(*store)).Written());
    EXPECT_EQ(ctrl, 1); // the demo image has no line address to follow

    const std::vector<uint8_t> file = test::ReadBytes(path);
    ASSERT_EQ(file.size(), 1625u);
    const uint8_t header[] = {58, 3, 1, 19, 0, 69, 12};
    EXPECT_EQ(0, std::memcmp(file.data(), header, 7));
    EXPECT_EQ(0, std::memcmp(file.data() + 7, image.data(), 1618));

    // The store released its old image: the next read sees the new file.
    uint8_t block[256] = {};
    ASSERT_EQ(store->Read(addr::kParamsLength, -1, block, 0).Length(), 58);
    EXPECT_EQ(block[2], 9);
    EXPECT_EQ(block[4], 3);
    DeviceBuffer report;
    EXPECT_EQ(FillReportBuffer(*store, report), 0);
    EXPECT_EQ(report, image);

    // A demo file that cannot be replaced reports the failure and keeps the old file.
    const std::string missingDir = dir.File("gone/demo_trk.bin");
    DemoRecordStore broken(missingDir);
    const DefaultsWriteResult refused =
        WriteDefaultImage(broken, image, ctrl, ReplaceDemoFile(broken));
    EXPECT_FALSE(refused.Written());
    EXPECT_EQ(refused.messages, std::vector<std::string>{"Ошибка записи"});
}

} // namespace
} // namespace velmar
