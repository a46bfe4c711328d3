#include "data/report.h"
#include "fake_store.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

DeviceBuffer OneSideFourHoses() {
    DeviceBuffer b;
    CtrlrParams p;
    p.SetSpeedTrk(0);
    p.SetAdrTrk_1(11);
    p.SetAdrTrk_2(12);
    p.SetCountNozTrk(4);
    p.SetCountSideTrk(1);
    p.SetMeterType(1);
    p.SetPhaseMet(2);
    p.SetSlowStart(1);
    p.SetSlowLoad(3);
    p.SetNozzleFat(30);
    p.SetTrkModes(0x9401); // bits 0, 10, 12, 15
    b.SetParams(p);
    for (int n = 0; n < 4; ++n) {
        ChannelRegs r;
        r.SetFCount(static_cast<uint32_t>(1000 * (n + 1)));
        r.SetFCMil(static_cast<uint8_t>(n + 5));
        b.SetRegs(n, r);
    }
    return b;
}

TEST(Report, MainSettingsModeBitsAndFiscalLines) {
    const std::vector<std::string> lines = ReportLines(OneSideFourHoses(), 5, false);
    const std::vector<std::string> expected{
        "\tТрк №5",
        "",
        "Адрес стороны А - 11",
        "Адрес стороны Б - 12",
        "Скорость обмена - 38400",
        "Количество сторон - 1",
        "Количество РК - 4",
        "Тип датчика - 256 импульсов",
        "Фазы датчика - Одна фаза с пересчетом по второй фазе",
        "Компенсация раздутия шланга = 300",
        "Старт на поджатии = 100",
        "Велична долива = 300",
        "",
        "",
        "\tПараметры контроллера(расшифровка битовой маски)",
        "Инверсный датчик раздаточного крана",
        "Разрешен отпуск топлива после того как раздаточный кран повешен",
        "Округлять сумму до заданной",
        "Режи работы - Север",
        "",
        "\tФискальные счетчики.",
        "Фискальный счетчик  сторона А, 1 рукав = 1000,5",
        "Фискальный счетчик  сторона А, 2 рукав = 2000,6",
        "Фискальный счетчик  сторона А, 3 рукав = 3000,7",
        "Фискальный счетчик  сторона А, 4 рукав = 4000,8",
    };
    EXPECT_EQ(lines, expected);
}

TEST(Report, SpeedOutOfListAndOtherCodes) {
    DeviceBuffer b = OneSideFourHoses();
    b.bytes[0] = 7;     // SpeedTrk
    b.bytes[22] = 3;    // MeterType manual
    b.bytes[23] = 9;    // PhaseMet
    b.bytes[31] = 0x21; // bits without a line
    b.bytes[30] = 0;
    const auto lines = ReportLines(b, 1, false);
    EXPECT_EQ(lines[4], "Скорость обмена - ");
    EXPECT_EQ(lines[7], "Тип датчика - ручная настройка");
    EXPECT_EQ(lines[8], "Фазы датчика - Ручная настройка");
    EXPECT_EQ(lines[15], ""); // no mode lines at all
    b.bytes[22] = 2;
    EXPECT_EQ(ReportLines(b, 1, false)[7], "Тип датчика - 132 импульса");
}

TEST(Report, ExtendedStatusBlocks) {
    DeviceBuffer b = OneSideFourHoses();
    b.bytes[5] = 2; // two sides, four hoses each
    ChannelRegs r = b.Regs(1);
    r.SetBitStat(0x0084);
    b.SetRegs(1, r);
    ChannelRegs last;
    last.SetBitStat(0x7B88);
    last.SetFCount(0xFFFFFFFF); // the whole part is shown signed
    b.SetRegs(7, last);

    const auto normal = ReportLines(b, 1, false);
    EXPECT_EQ(normal.size(), 29u);
    EXPECT_EQ(normal[25], "Фискальный счетчик  сторона Б, 1 рукав = 0,0");
    EXPECT_EQ(normal[28], "Фискальный счетчик  сторона Б, 4 рукав = -1,0");

    const auto lines = ReportLines(b, 1, true);
    const std::vector<std::string> tail(lines.begin() + 29, lines.end());
    const std::vector<std::string> expected{
        "",
        "Состояние рукава Сторона А №2",
        "Канал активирован",
        "Ошибка питания",
        "Авария датчика",
        "",
        "Состояние рукава Сторона Б №4",
        "Раздаточный кран снят",
        "Канал активирован",
        "Отпуск приостановлен",
        "Управляется БМУ",
        "Доза задана по протоколу Нара",
        "Идет отпуск в мерник",
        "Доза продолжается",
        "Отображать отпуск полный бак",
    };
    EXPECT_EQ(tail, expected);
}

TEST(Report, CountsBeyondSixteenChannelsStayInTheBuffer) {
    DeviceBuffer b = OneSideFourHoses();
    b.bytes[4] = 15;
    b.bytes[5] = 255;
    for (int n = 0; n < 16; ++n) {
        ChannelRegs r;
        r.SetBitStat(0x0008);
        b.SetRegs(n, r);
    }
    const auto lines = ReportLines(b, 1, true);
    int fiscal = 0;
    int blocks = 0;
    for (const auto& l : lines) {
        fiscal += l.rfind("Фискальный счетчик ", 0) == 0;
        blocks += l.rfind("Состояние рукава", 0) == 0;
    }
    EXPECT_EQ(fiscal, 16);
    EXPECT_EQ(blocks, 16);
}

TEST(ReportBuffer, RecordsLandAtTheirPlacesEvenAfterAFailedRead) {
    test::FakeStore store;
    uint8_t block[58];
    for (int i = 0; i < 58; ++i) block[i] = static_cast<uint8_t>(i + 1);
    store.PutParams(block, 58);
    for (int n = 0; n < 16; ++n) {
        std::memset(store.At(0x1000 + n * 0x100), 0x10 + n, 19);
        std::memset(store.At(0x2000 + n * 0x100), 0x40 + n, 69);
    }
    std::memset(store.At(0x4000), 0xA1, 12);
    std::memset(store.At(0x4100), 0xB1, 12);
    std::memset(store.At(0x5100), 0xC1, 256);

    DeviceBuffer b;
    EXPECT_EQ(FillReportBuffer(store, b), 0);
    EXPECT_EQ(0, std::memcmp(b.data(), block, 58));
    EXPECT_EQ(b.bytes[static_cast<size_t>(DeviceBuffer::SettsOffset(15) + 18)], 0x1F);
    EXPECT_EQ(b.bytes[385], 0xB1);
    EXPECT_EQ(b.bytes[513], 0xC1);
    EXPECT_EQ(b.bytes[1617], 0x4F);

    store.failRead.insert(0x1300);
    store.shortRead.insert(0x4000);
    EXPECT_EQ(FillReportBuffer(store, b), 2);
    EXPECT_EQ(b.Setts(3).Bytes()[0], 0);
    EXPECT_EQ(b.Setts(4).Bytes()[0], 0x14);
    EXPECT_EQ(b.Side(0).Bytes()[2], 0xA1);
    EXPECT_EQ(b.Side(0).Bytes()[3], 0);
    EXPECT_EQ(b.Regs(0).Bytes()[0], 0x40);

    // A longer parameter block is cut to its place.
    uint8_t longBlock[80];
    std::memset(longBlock, 0x77, sizeof longBlock);
    store.PutParams(longBlock, 80);
    EXPECT_EQ(FillReportBuffer(store, b), 2);
    EXPECT_EQ(b.bytes[57], 0x77);
    EXPECT_EQ(b.bytes[58], 0x10);
}

} // namespace
} // namespace velmar
