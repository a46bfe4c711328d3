#include "data/default_image.h"
#include "fake_store.h"
#include "protocol/ctrlr_protocol.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(DefaultImage, ShelfTwoSidesFourNozzles) {
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Shelf, DefaultTopology{});
    const CtrlrParams p = image.Params();
    EXPECT_EQ(p.SpeedTrk(), 3);
    EXPECT_EQ(p.Speed2CnlTrk(), 3);
    EXPECT_EQ(p.AdrTrk_1(), 1);
    EXPECT_EQ(p.AdrTrk_2(), 2);
    EXPECT_EQ(p.CountNozTrk(), 4);
    EXPECT_EQ(p.CountSideTrk(), 2);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.AdrNaraTrk(i), i + 1);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(p.AdrNaraTrk(i), 0);
    EXPECT_EQ(p.MeterType(), 0);
    EXPECT_EQ(p.PhaseMet(), 0);
    EXPECT_EQ(p.SlowStart(), 1);
    EXPECT_EQ(p.SlowLoad(), 3);
    EXPECT_EQ(p.NozzleFat(), 30);
    EXPECT_EQ(p.MetTOut(), 15);
    EXPECT_EQ(p.TrkModes(), 0x1401);
    EXPECT_EQ(p.TrkModes2(), 0);
    EXPECT_EQ(p.TypeTbl(), 6);
    // Map rows (0,4), (1,5), (2,6), (3,7), then unused.
    const uint8_t rows[] = {0, 4, 1, 5, 2, 6, 3, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.PhysToLogTrk(i), rows[i]) << i;
    for (int i = 8; i < 16; ++i) EXPECT_EQ(p.PhysToLogTrk(i), 255) << i;
    for (int b = 51; b <= 56; ++b) EXPECT_EQ(image.bytes[static_cast<size_t>(b)], 0);
    EXPECT_EQ(p.Ksm(), ChecksumRot8(image.data(), 57));

    for (int n = 0; n < 16; ++n) {
        const ChannelSetts s = image.Setts(n);
        EXPECT_EQ(s.ImpWLo(), 0x80000000u);
        EXPECT_EQ(s.ImpWHi(), 0);
        EXPECT_EQ(s.ImpWkLo(), 0x80000000u);
        EXPECT_EQ(s.ImpWkHi(), 0);
        EXPECT_EQ(s.ImpWkWLo(), 0u);
        EXPECT_EQ(s.ImpLit(), 200);
        EXPECT_EQ(s.MeterPhase(), 0);
        EXPECT_EQ(s.CountKor(), 0);
    }
    const MakeBlock make = image.Make();
    EXPECT_EQ(make.Get(0, 2), 0x00FFu); // used-channel mask
    EXPECT_EQ(make.PbTimeoutNara(), 15);
    // Side states and registers (fiscal totalisers included) are all 0.
    for (int b = DeviceBuffer::kSideStateOffset; b < DeviceBuffer::kMakeOffset; ++b)
        EXPECT_EQ(image.bytes[static_cast<size_t>(b)], 0);
    for (int b = DeviceBuffer::kRegsOffset; b < DeviceBuffer::kLength; ++b)
        ASSERT_EQ(image.bytes[static_cast<size_t>(b)], 0) << b;
}

TEST(DefaultImage, NaraPresetAndOtherTopologies) {
    DefaultTopology t;
    t.sides = 1;
    t.nozzles = 2;
    t.sideA = 7;
    t.sideB = 9;
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Nara, t);
    const CtrlrParams p = image.Params();
    EXPECT_EQ(p.TrkModes(), 0x1402);
    EXPECT_EQ(p.TypeTbl(), 3);
    EXPECT_EQ(p.PhaseMet(), 1);
    EXPECT_EQ(image.Setts(15).MeterPhase(), 1);
    EXPECT_EQ(p.AdrTrk_1(), 7);
    EXPECT_EQ(p.AdrTrk_2(), 0); // one side
    EXPECT_EQ(p.PhysToLogTrk(0), 0);
    EXPECT_EQ(p.PhysToLogTrk(1), 1);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(p.PhysToLogTrk(i), 255);
    EXPECT_EQ(image.Make().Get(0, 2), 0x0003u);
    EXPECT_TRUE(p.KsmValid());

    DefaultTopology full;
    full.nozzles = 8;
    full.naraAddresses = {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    const DeviceBuffer all = BuildDefaultImage(DefaultPreset::None, full);
    EXPECT_EQ(all.Make().Get(0, 2), 0xFFFFu);
    EXPECT_EQ(all.Params().AdrNaraTrk(0), 16);
    EXPECT_EQ(all.Params().AdrNaraTrk(15), 1);
    EXPECT_EQ(all.Params().TrkModes(), 0x1401); // no preset chosen: "Шельф"
}

TEST(DefaultImage, TopologyChecks) {
    DefaultTopology t;
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::Ok);
    t.sides = 3;
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::BadSides);
    t = {};
    t.nozzles = 9;
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::BadNozzles);
    t = {};
    t.sideA = 0;
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::BadSideAddress);
    t = {};
    t.sideB = 1;
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::SameSideAddress);
    t.sides = 1; // side B is not used with one side
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::Ok);
    t = {};
    t.naraAddresses = {1, 2, 3};
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::BadNaraCount);
    t.naraAddresses = {1, 2, 3, 4, 5, 6, 7, 0};
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::BadNaraAddress);
    t.naraAddresses = {1, 2, 3, 4, 5, 6, 7, 1};
    EXPECT_EQ(CheckDefaultTopology(t), TopologyCheck::SameNaraAddress);
}

TEST(DefaultImage, PresetTexts) {
    const auto shelf = DefaultPresetText(DefaultPreset::Shelf);
    const auto none = DefaultPresetText(DefaultPreset::None);
    const auto nara = DefaultPresetText(DefaultPreset::Nara);
    EXPECT_EQ(shelf.size(), 14u);
    EXPECT_EQ(none.size(), 15u);
    EXPECT_EQ(nara.size(), 15u);
    EXPECT_EQ(none[5], "при завершении - 300 мл.");
    EXPECT_EQ(none[6], "Компенсация раздутия шланга 300 мл.");
    EXPECT_EQ(shelf[6], "Тип табло - Т-209-17.");
    EXPECT_EQ(nara[6], "Тип табло - TBL-217");
    EXPECT_EQ(shelf.back(), "Фискальные счетчики будут обнулены.");
    EXPECT_EQ(nara[7], "");
}

TEST(DefaultImage, LiveWriteOrderFailuresAndAddress) {
    test::FakeStore store;
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Shelf, DefaultTopology{});
    store.failWrite.insert(ChannelAddress(addr::kChannelRegsBase, 3));
    int ctrl = 7;
    int lastDone = 0;
    int calls = 0;
    DefaultsWriteResult result =
        WriteDefaultImage(store, image, ctrl, {}, [&](int done, int total) {
            EXPECT_EQ(total, 1618);
            EXPECT_GT(done, lastDone);
            lastDone = done;
            ++calls;
        });
    EXPECT_FALSE(result.Written());
    EXPECT_EQ(calls, 36);
    EXPECT_EQ(lastDone, 1618);
    ASSERT_EQ(store.writes.size(), 36u);
    EXPECT_EQ(store.writes[0], addr::kParams);
    EXPECT_EQ(store.writes[1], addr::kSideStateA);
    EXPECT_EQ(store.writes[2], addr::kSideStateB);
    EXPECT_EQ(store.writes[3], addr::kMakeBlock);
    EXPECT_EQ(store.writes[4], 0x1000);
    EXPECT_EQ(store.writes[20], 0x2000);
    EXPECT_EQ(store.writes[35], 0x2F00);
    EXPECT_EQ(result.failedSteps, 1);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0], "Ошибка записи состояния шланга");
    // The failed step did not stop the sequence; the restart went out; the old address 7 is
    // neither side address of the image, so the session moves to side A's.
    EXPECT_EQ(store.restarts, 1);
    EXPECT_TRUE(result.restartSent);
    EXPECT_EQ(ctrl, 1);
    EXPECT_TRUE(result.addressChanged);
    EXPECT_EQ(0, std::memcmp(store.At(addr::kParams), image.data(), 58));
    EXPECT_EQ(0, std::memcmp(store.At(addr::kMakeBlock), image.data() + 386, 128));

    int ctrl2 = 2;
    store.failWrite.clear();
    result = WriteDefaultImage(store, image, ctrl2, {});
    EXPECT_TRUE(result.Written());
    EXPECT_EQ(ctrl2, 2);
    EXPECT_FALSE(result.addressChanged);

    // The block with the new addresses did not arrive: the controller keeps its old address,
    // and so does the session.
    int ctrl3 = 7;
    store.failWrite.insert(addr::kParams);
    result = WriteDefaultImage(store, image, ctrl3, {});
    EXPECT_FALSE(result.Written());
    EXPECT_EQ(result.messages, std::vector<std::string>{"Ошибка записи параметров контроллера"});
    EXPECT_EQ(ctrl3, 7);
    EXPECT_FALSE(result.addressChanged);
}

TEST(DefaultImage, DemoReplacesTheImageFile) {
    test::FakeStore store(true);
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Nara, DefaultTopology{});
    std::vector<uint8_t> file;
    int ctrl = 1;
    EXPECT_TRUE(WriteDefaultImage(store, image, ctrl, [&](const std::vector<uint8_t>& bytes) {
                    file = bytes;
                    return true;
                }).Written());
    ASSERT_EQ(file.size(), 1625u);
    const uint8_t header[] = {58, 4, 2, 19, 0, 69, 12};
    EXPECT_EQ(0, std::memcmp(file.data(), header, 7));
    EXPECT_EQ(0, std::memcmp(file.data() + 7, image.data(), 1618));
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(store.restarts, 0);

    const DefaultsWriteResult result =
        WriteDefaultImage(store, image, ctrl, [](const std::vector<uint8_t>&) { return false; });
    EXPECT_FALSE(result.Written());
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0], "Ошибка записи");
}

TEST(DefaultImage, DeviceCheck) {
    test::FakeStore store;
    EXPECT_TRUE(DefaultsDeviceSupported(store));
    store.failRead.insert(addr::kStatusIR); // an error still lets the dialog open
    EXPECT_TRUE(DefaultsDeviceSupported(store));
}

} // namespace
} // namespace velmar
