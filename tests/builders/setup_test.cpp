#include "data/setup_monitor.h"
#include "data/setup_write.h"
#include "fake_store.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

CtrlrParams Block() {
    CtrlrParams p;
    p.SetAdrTrk_1(3);
    p.SetAdrTrk_2(4);
    p.SetCountNozTrk(2);
    p.SetCountSideTrk(2);
    for (int i = 0; i < 4; ++i) p.SetAdrNaraTrk(i, static_cast<uint8_t>(10 + i));
    p.SetSlowLoad(3);
    p.SetNozzleFat(30);
    p.SetMetTOut(15);
    p.SetSlowStart(1);
    p.SetTypeTbl(6);
    return p;
}

TEST(SetupLoad, ListsAndReplacements) {
    CtrlrParams p = Block();
    InitialSetupLoad s = LoadInitialSetup(p);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_EQ(s.sides, 2);
    EXPECT_EQ(s.nozzles, 2);
    EXPECT_EQ(s.sideText, "3,4");
    EXPECT_EQ(s.channelText, "10,11,12,13");
    EXPECT_EQ(s.tableItem, 6);

    p.SetCountSideTrk(3);
    p.SetCountNozTrk(12);
    p.SetMeterType(2);
    p.SetPhaseMet(3);
    p.SetTypeTbl(7);
    s = LoadInitialSetup(p);
    ASSERT_EQ(s.messages.size(), 2u);
    EXPECT_EQ(s.messages[0], "Ошибка чтения к-ва сторон. Установлено значение 1");
    EXPECT_EQ(s.messages[1], "Ошибка чтения типа табло. Установлен тип - T-209");
    EXPECT_EQ(s.sidesItem, 0);
    EXPECT_EQ(p.CountSideTrk(), 1);
    EXPECT_EQ(s.sides, 1);
    EXPECT_EQ(s.nozzles, 12);
    EXPECT_EQ(s.nozzlesItem, -1); // 12 has no item
    EXPECT_EQ(p.MeterType(), 0);
    EXPECT_EQ(p.PhaseMet(), 1);
    EXPECT_EQ(p.TypeTbl(), 5);

    // No sides at all: treated as one instead of dividing by zero.
    p.SetCountSideTrk(0);
    p.SetCountNozTrk(16);
    s = LoadInitialSetup(p);
    EXPECT_EQ(s.sides, 1);
    EXPECT_EQ(s.messages[0], "Ошибка чтения к-ва пистолетов. Установлено значение 1");
    EXPECT_EQ(s.nozzles, 1);

    // No hoses: one, quietly, as for the sides, so that the lists are never empty.
    p.SetCountNozTrk(0);
    s = LoadInitialSetup(p);
    EXPECT_TRUE(s.messages.empty());
    EXPECT_EQ(p.CountNozTrk(), 1);
    EXPECT_EQ(s.nozzles, 1);
    EXPECT_EQ(s.nozzlesItem, 0);
    EXPECT_EQ(s.channelText, "10");
}

TEST(SetupMonitor, Lines) {
    CtrlrParams p = Block();
    ChannelSettsSet setts{};
    setts[0].SetImpLit(200);
    setts[0].SetMeterPhase(0);
    setts[1].SetImpLit(512);
    setts[1].SetMeterPhase(1);
    setts[2].SetImpLit(264);
    setts[2].SetMeterPhase(2);
    setts[3].SetImpLit(200);
    setts[3].SetMeterPhase(9);
    const std::vector<std::string> expected{
        "Установлена связь с контроллером №5",
        "",
        "   Основные настройки контроллера",
        "Количество сторон - 2",
        "Количество пистолетов - 2",
        "Величина долива - 300 мл",
        "Величина компенсации раздутия шланга - 300 мл",
        "Величина таймаута крыльчатки - 15 сек",
        "Величина старта на пониженной производительности - 100",
        "Табло типа T-209-17",
        "",
        "     Настройки каналов",
        "",
        "Настройки канала с адресом 10",
        "Датчик - 100 импульсов",
        "Датчик импульсов с пересчетом одной фазы 1",
        "",
        "Настройки канала с адресом 11",
        "Датчик - 256 импульсов",
        "Датчик импульсов с пересчетом двух фаз",
        "",
        "Настройки канала с адресом 12",
        "Датчик - 132 импульсов",
        "Датчик импульсов с пересчетом одной фазы 2",
        "",
        "Настройки канала с адресом 13",
        "Датчик - 100 импульсов",
    };
    EXPECT_EQ(MonitorListLines(5, p, setts), expected);
    p.SetTypeTbl(7);
    EXPECT_EQ(MonitorListLines(5, p, setts)[9], "Тип табло неопределен");
}

TEST(SetupApply, OneSideTwoNozzlesAndMeterRescale) {
    CtrlrParams p = Block();
    ChannelSettsSet setts{};
    for (auto& s : setts) {
        s.SetW(1000);
        s.SetKL(1000);
        s.SetImpLit(200);
    }
    setts[5].SetImpLit(512);
    InitialSetupChoice c;
    c.sides = 1;
    c.nozzles = 2;
    c.sideAddresses = {9, 77};
    c.channelAddresses = {21, 22};
    c.tableType = 3;
    c.meterType = 1;
    c.phase = 2;
    ASSERT_TRUE(InitialSetupChoiceValid(c));
    ApplyInitialSetup(c, p, setts);
    EXPECT_EQ(p.CountSideTrk(), 1);
    EXPECT_EQ(p.CountNozTrk(), 2);
    EXPECT_EQ(p.TrkModes(), 0x1401);
    EXPECT_EQ(p.AdrTrk_1(), 9);
    EXPECT_EQ(p.AdrTrk_2(), 4); // one side: side B keeps its value
    EXPECT_EQ(p.AdrNaraTrk(0), 21);
    EXPECT_EQ(p.AdrNaraTrk(1), 22);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(p.AdrNaraTrk(i), 0);
    EXPECT_EQ(p.PhysToLogTrk(0), 0);
    EXPECT_EQ(p.PhysToLogTrk(1), 1);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(p.PhysToLogTrk(i), 255);
    EXPECT_EQ(p.MeterType(), 1);
    EXPECT_EQ(p.PhaseMet(), 2);
    EXPECT_EQ(p.TypeTbl(), 3);
    EXPECT_TRUE(p.KsmValid());
    EXPECT_EQ(p.SlowLoad(), 3); // left as the dialog stored it
    EXPECT_EQ(setts[0].ImpLit(), 512);
    EXPECT_EQ(setts[0].W(), 391u); // 1000 * 200 / 512
    EXPECT_EQ(setts[5].W(), 1000u);
    EXPECT_EQ(setts[15].MeterPhase(), 2);
}

TEST(SetupApply, ChoiceChecks) {
    InitialSetupChoice c;
    c.sides = 2;
    c.nozzles = 2;
    c.sideAddresses = {1, 2};
    c.channelAddresses = {1, 2, 5, 6};
    EXPECT_TRUE(InitialSetupChoiceValid(c));
    c.channelAddresses = {1, 2, 5, 1};
    EXPECT_FALSE(InitialSetupChoiceValid(c));
    c.channelAddresses = {1, 2, 5, 0};
    EXPECT_FALSE(InitialSetupChoiceValid(c));
    c.channelAddresses = {1, 2, 5, 6};
    c.sideAddresses = {1, 1};
    EXPECT_FALSE(InitialSetupChoiceValid(c));
    c.sideAddresses = {1, 2};
    c.nozzles = 9;
    EXPECT_FALSE(InitialSetupChoiceValid(c));
}

TEST(SetupWrite, RegistersKeepTheirFiscalTotaliserAndFailuresDoNotStop) {
    test::FakeStore store;
    for (int n = 0; n < 16; ++n) {
        uint8_t* r = store.At(ChannelAddress(addr::kChannelRegsBase, n));
        std::memset(r, 0xEE, 69);
        r[46] = static_cast<uint8_t>(n);
        r[50] = 9;
    }
    store.failWrite.insert(ChannelAddress(addr::kChannelSettsBase, 4));
    store.failRead.insert(ChannelAddress(addr::kChannelRegsBase, 7));

    CtrlrParams p = Block();
    p.UpdateKsm();
    CtrlrParams shadow;
    ChannelSettsSet setts{};
    for (auto& s : setts) s.SetImpLit(200);
    ChannelSettsSet settsShadow{};
    int last = 0;
    const SetupWriteResult result =
        WriteInitialSetup(store, p, shadow, setts, settsShadow, [&](int done, int total) {
            EXPECT_EQ(total, 58 + 16 * 19 + 16 * 69);
            last = done;
        });
    EXPECT_TRUE(result.Failed());
    EXPECT_FALSE(result.paramsFailed);
    EXPECT_EQ(result.settsFailed, 1);
    EXPECT_EQ(result.regsFailed, 1);
    EXPECT_TRUE(shadow.SameBlock(p));
    EXPECT_EQ(settsShadow[3].ImpLit(), 200);
    EXPECT_EQ(settsShadow[4].ImpLit(), 0); // not written: the shadow keeps the old bytes
    EXPECT_EQ(last, 58 + 15 * 19 + 15 * 69);
    EXPECT_EQ(store.restarts, 1);

    for (int n = 0; n < 16; ++n) {
        const ChannelRegs r(
            std::span<const uint8_t>(store.At(ChannelAddress(addr::kChannelRegsBase, n)), 69));
        if (n == 7) {
            EXPECT_EQ(r.State(), 0xEE); // unread: left alone, its totaliser intact
            continue;
        }
        EXPECT_EQ(r.FCount(), 0xEEEEEE00u + static_cast<uint32_t>(n));
        EXPECT_EQ(r.FCMil(), 9);
        EXPECT_EQ(r.Price(), 1000);
        EXPECT_EQ(r.State(), 0);
        EXPECT_EQ(r.BitStat(), 0);
        EXPECT_EQ(r.MCount(), 0u);
    }
}

TEST(SetupWrite, DemoWritesTheImageEntryWithoutRestart) {
    test::FakeStore store(true);
    CtrlrParams p = Block();
    p.UpdateKsm();
    CtrlrParams shadow;
    ChannelSettsSet setts{};
    ChannelSettsSet settsShadow{};
    EXPECT_FALSE(WriteInitialSetup(store, p, shadow, setts, settsShadow).Failed());
    EXPECT_EQ(store.writes.front(), addr::kParamsLength);
    EXPECT_EQ(store.restarts, 0);
}

} // namespace
} // namespace velmar
