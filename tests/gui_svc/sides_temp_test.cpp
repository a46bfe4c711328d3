// The side state tab and the temperature table tab against the simulator's memory.
#include "svc_fixture.h"
#include "ui/pages/tab_regs_sides.h"
#include "ui/pages/tab_temperature_tbl.h"

#include <QGroupBox>
#include <QTableWidget>

namespace velmar::test {
namespace {

TEST_F(SvcTest, SideBFailingWhileSideAIsReadDisablesOnlySideB) {
    StartBus();
    SetSim(0x4000, {4, 0xFF, 0xFF, 1, 2, 3, 0x10, 0x27, 0x00, 0x00});
    store->failReads = {0x4100};
    Make<ui::TabRegsSides>();
    Show();
    EXPECT_EQ(status, U("Состояние второй стороны не считаны!"));
    EXPECT_EQ(prompts->messages, QStringList{U("Ошибка чтения состояния стороны 2")});
    EXPECT_TRUE(Get<QGroupBox>("gbRegsSide1")->isEnabled());
    EXPECT_FALSE(Get<QGroupBox>("gbRegsSide2")->isEnabled());
    EXPECT_EQ(Edit("eActiveNoz_s1")->text(), "4");
    EXPECT_EQ(Edit("eCountKor_s1")->text(), "65535");
    EXPECT_EQ(Edit("maskDateLastKor_s1")->text(), "01.02.03");
    EXPECT_EQ(Edit("eCountTranz_s1")->text(), "10000");
    EXPECT_TRUE(Edit("eCountKor_s1")->isReadOnly());
    EXPECT_TRUE(Button("bWriteRegsSides")->isHidden());

    // The button's texts differ from those of showing the tab.
    Click("bCallRegsSides");
    EXPECT_EQ(status, U("Состояние второй стороны не считано!"));
    store->failReads = {0x4000, 0x4100};
    Click("bCallRegsSides");
    EXPECT_EQ(status, U("Состояния первой и второй стороны не считаны!"));
    EXPECT_FALSE(Button("bWriteRegsSides")->isEnabled());
}

// With only side A readable, a write sends side A alone and ends with its own text.
TEST_F(SvcTest, AWriteWithOnlySideAEnabledSendsSideA) {
    StartBus();
    Reconfigure(*session, [&](ui::SessionOptions& o) { o.serviceMode = true; });
    store->failReads = {0x4100};
    SetSim(0x4100, {9, 9, 9});
    SetSim(0x4001, {0x10, 0x27});
    Make<ui::TabRegsSides>();
    Show();
    Enter("eCountKor_s1", "70000");
    EXPECT_EQ(prompts->messages.last(),
              U("Введено число превышающее максимальное количество корректировок"));
    EXPECT_EQ(Edit("eCountKor_s1")->text(), "10000");
    Enter("eCountKor_s1", "1234");
    Enter("maskDateLastKor_s1", "311299");
    Enter("eCountTranz_s1", "77");
    Click("bWriteRegsSides");
    EXPECT_EQ(status, U("Запись состояния стороны 1 произведена"));
    EXPECT_EQ(Sim(0x4001), 0xD2);
    EXPECT_EQ(Sim(0x4002), 0x04);
    EXPECT_EQ(Sim(0x4003), 31);
    EXPECT_EQ(Sim(0x4004), 12);
    EXPECT_EQ(Sim(0x4005), 99);
    EXPECT_EQ(Sim(0x4006), 77);
    EXPECT_EQ(Sim(0x4101), 9);
}

// Values as wide as their bytes allow show whole, and leaving the fields stores them unchanged.
TEST_F(SvcTest, WideSideValuesShowWholeAndGoBackUnchanged) {
    struct Case {
        std::initializer_list<uint8_t> bytes;
        const char* activeNoz;
        const char* countTranz;
    };
    const Case cases[] = {
        {{255, 0, 0, 1, 1, 1, 0x15, 0xCD, 0x5B, 0x07}, "255", "123456789"},
        {{255, 0xFF, 0xFF, 1, 1, 1, 0xFF, 0xFF, 0xFF, 0xFF}, "255", "4294967295"},
    };
    StartBus();
    Reconfigure(*session, [&](ui::SessionOptions& o) { o.serviceMode = true; });
    Make<ui::TabRegsSides>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.countTranz);
        SetSim(0x4000, c.bytes);
        Show();
        EXPECT_EQ(Edit("eActiveNoz_s1")->text(), c.activeNoz);
        EXPECT_EQ(Edit("eCountTranz_s1")->text(), c.countTranz);
        Enter("eCountTranz_s1", QString::fromLatin1(c.countTranz));
        const QString sideB = Edit("eCountTranz_s2")->text();
        const uint8_t sideBLow = Sim(0x4106);
        Enter("eCountTranz_s2", "42949672950"); // beyond 32 bits: refused, not wrapped
        EXPECT_EQ(Edit("eCountTranz_s2")->text(), sideB);
        Click("bWriteRegsSides");
        uint32_t at = 0x4000;
        for (const uint8_t b : c.bytes) EXPECT_EQ(Sim(at++), b);
        EXPECT_EQ(Sim(0x4106), sideBLow);
    }
}

// A date part above two digits shows whole, without the two-digit mask; a part typed beyond a
// byte is not stored wrapped; a two-digit date brings the mask back.
TEST_F(SvcTest, ADateAboveTwoDigitsShowsWholeAndIsNeverStoredWrapped) {
    StartBus();
    Reconfigure(*session, [&](ui::SessionOptions& o) { o.serviceMode = true; });
    SetSim(0x4003, {255, 100, 7});
    Make<ui::TabRegsSides>();
    Show();
    QLineEdit* date = Edit("maskDateLastKor_s1");
    EXPECT_EQ(date->text(), "255.100.07");
    Click(date);
    Key(Qt::Key_Home);
    Type("9"); // day 9255
    Key(Qt::Key_Tab);
    Click("bWriteRegsSides");
    EXPECT_EQ(Sim(0x4003), 255);
    EXPECT_EQ(Sim(0x4004), 100);
    EXPECT_EQ(Sim(0x4005), 7);
    SetSim(0x4003, {1, 2, 3});
    Click("bCallRegsSides");
    EXPECT_EQ(date->text(), "01.02.03");
    EXPECT_FALSE(date->inputMask().isEmpty());
}

QString Cell(QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item != nullptr ? item->text() : QString();
}

TEST_F(SvcTest, TheTableIsComputedFromTheThermistorAndWritten) {
    StartBus();
    Make<ui::TabTemperatureTbl>();
    Show();
    auto* grid = Get<QTableWidget>("sgTblT");
    EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), U("Показание ацп (A) [Hex] "));
    EXPECT_FALSE(Button("bRecalcTblT")->isEnabled());
    Click(Edit("eRn"));
    Type("10");
    Click(Edit("eB"));
    Type("3950");
    Click(Edit("eTn"));
    Type("2x5"); // the letter is discarded
    EXPECT_EQ(Edit("eTn")->text(), "25");
    EXPECT_TRUE(Button("bRecalcTblT")->isEnabled());
    Click("bRecalcTblT");
    EXPECT_EQ(Cell(grid, 19, 0), "26");
    EXPECT_EQ(Cell(grid, 19, 2), "20B");
    EXPECT_EQ(Cell(grid, 0, 2), "B");
    EXPECT_EQ(Cell(grid, 38, 0), "102");
    EXPECT_EQ(Cell(grid, 38, 2), "3C0");
    EXPECT_TRUE(Cell(grid, 19, 1).startsWith("9,56")) << Cell(grid, 19, 1).toStdString();

    // A pasted nominal temperature below absolute zero changes nothing.
    Edit("eTn")->setText("-273");
    Click("bRecalcTblT");
    EXPECT_EQ(prompts->messages.last(), U("Неправильно введена температура"));
    EXPECT_EQ(Cell(grid, 19, 2), "20B");
    Edit("eTn")->setText("2,,5");
    Click("bRecalcTblT");
    EXPECT_TRUE(prompts->messages.last().startsWith(U("Неправильно введено число")));

    Click("bWriteTblT");
    EXPECT_EQ(status, U("Таблица записана"));
    EXPECT_EQ(Sim(0x5000 + 38), 0x0B);
    EXPECT_EQ(Sim(0x5000 + 39), 0x02);

    SetSim(0x5000, {0x34, 0x12});
    Click("bReadTblT");
    EXPECT_EQ(status, U("Таблица считана"));
    EXPECT_EQ(Cell(grid, 0, 0), "-50");
    EXPECT_EQ(Cell(grid, 0, 1), "---");
    EXPECT_EQ(Cell(grid, 0, 2), "1234");
    EXPECT_EQ(Cell(grid, 38, 1), "---");

    {
        auto lock = bus->Lock();
        bus->GetFaults().noAnswer = true;
    }
    Click("bWriteTblT");
    EXPECT_EQ(status, U("Таблица не записана"));
}

// A table never read or computed is not sent, and the status says why, not that the line failed.
TEST_F(SvcTest, ATableNeverReadOrComputedIsNotWrittenAndTheStatusSaysWhy) {
    StartBus();
    const uint8_t before = Sim(addr::kTempTable);
    Make<ui::TabTemperatureTbl>();
    Show();
    Click("bWriteTblT");
    EXPECT_TRUE(status.contains(U("не считана и не рассчитана"))) << status.toStdString();
    EXPECT_EQ(Sim(addr::kTempTable), before);
}

TEST_F(SvcTest, InDemoModeTheTableButtonsOnlySayDemo) {
    StartDemo(DemoImage());
    Make<ui::TabTemperatureTbl>();
    Show();
    for (const char* button : {"bReadTblT", "bWriteTblT"}) {
        status.clear();
        Click(button);
        EXPECT_EQ(status, U("Демонстрационная версия программы"));
    }
}

} // namespace
} // namespace velmar::test
