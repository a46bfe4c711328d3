// The memory dump tab and the service tools of the main tab against the simulator.
#include "data/dump_layout.h"
#include "svc_fixture.h"
#include "ui/pages/tab_dump.h"
#include "ui/pages/tab_ident.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>

namespace velmar::test {
namespace {

QString Cell(QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item != nullptr ? item->text() : QString();
}

TEST_F(SvcTest, ADumpIsEditedDigitByDigitAndWrittenBack) {
    StartBus();
    SetSim(0x1F0, {0x41, 0x00, 0x42, 0x7F});
    Make<ui::TabDump>();
    EXPECT_FALSE(Button("bReadDump")->isEnabled());
    Enter("eAdresDump", "1G0");
    Enter("eCountByteDump", "21");
    EXPECT_TRUE(Marked("eAdresDump"));
    EXPECT_FALSE(Button("bReadDump")->isEnabled());
    Enter("eAdresDump", "1f0");
    EXPECT_TRUE(Button("bReadDump")->isEnabled());
    Click("bReadDump");
    EXPECT_EQ(status, U("Чтение(ER) прошло успешно."));

    auto* grid = Get<QTableWidget>("sg1");
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(Cell(grid, 0, 0), "000001f0");
    EXPECT_EQ(Cell(grid, 1, 0), "00000200");
    EXPECT_EQ(Cell(grid, 2, 1), "0");
    EXPECT_EQ(Cell(grid, 2, 4), "");
    EXPECT_EQ(Cell(grid, 0, kDumpTextColumn).left(4), "A B.");
    EXPECT_EQ(Get<QLabel>("lGridPointer")->text(), "0%");

    // The first digit is selected after a read: "G" is refused, "7" makes 0x41 into 0x71.
    // (Typed at the grid itself: the read's progress window may have taken the focus away.)
    const auto type = [grid](char c) { QTest::keyClick(grid, c); };
    type('G');
    EXPECT_EQ(Cell(grid, 0, 1), "4");
    type('7');
    EXPECT_EQ(Cell(grid, 0, 1), "7");
    EXPECT_EQ(Cell(grid, 0, kDumpTextColumn).left(1), "q");
    // The empty cells of the last row take nothing.
    grid->setCurrentCell(2, 4);
    type('5');
    EXPECT_EQ(Cell(grid, 2, 4), "");
    // The text column cannot be selected.
    grid->setCurrentCell(1, kDumpTextColumn);
    EXPECT_EQ(grid->currentRow(), 2);
    EXPECT_EQ(Get<QLabel>("lGridPointer")->text(), "100%");

    Click("bWriteDump");
    EXPECT_EQ(Sim(0x1F0), 0x71);
    EXPECT_EQ(Sim(0x1F2), 0x42);
}

TEST_F(SvcTest, ADumpStaysWithinOneMemorySpace) {
    StartBus();
    Make<ui::TabDump>();
    Enter("eAdresDump", "FFF0");
    Enter("eCountByteDump", "20");
    Click("bReadDump");
    EXPECT_EQ(prompts->messages.last(), U(kDumpRangeText));
    EXPECT_FALSE(Button("bWriteDump")->isEnabled());
    // 11 rows of the IR space; row 5 is half way.
    Get<QRadioButton>("rbIR")->setChecked(true);
    Enter("eAdresDump", "0");
    Enter("eCountByteDump", "B0");
    Click("bReadDump");
    EXPECT_EQ(status, U("Чтение(IR) прошло успешно."));
    Get<QTableWidget>("sg1")->setCurrentCell(5, 1);
    EXPECT_EQ(Get<QLabel>("lGridPointer")->text(), "50%");
}

TEST_F(SvcTest, FiscalLinesListBothSidesHoseByHose) {
    sim::Options options;
    options.hosesPerSide = 3;
    StartBus(options);
    for (uint32_t ch = 0; ch < 6; ++ch)
        SetSim(0x2000 + ch * 0x100 + 46, {static_cast<uint8_t>(0x40 + ch), 0xE2, 0x01, 0x00, 7});
    Make<ui::TabIdent>();
    auto* memo = Get<QPlainTextEdit>("mIdent");
    memo->clear();
    Click("bLoadFisk");
    EXPECT_EQ(status, U("Фискальные сумматоры считаны"));
    const QStringList lines = memo->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], U("Адрес 1. Рукав 1. Фискальный сумматор = 123456,7"));
    EXPECT_EQ(lines[2], U("Адрес 1. Рукав 3. Фискальный сумматор = 123458,7"));
    EXPECT_EQ(lines[3], U("Адрес 2. Рукав 1. Фискальный сумматор = 123459,7"));
    EXPECT_EQ(lines[5], U("Адрес 2. Рукав 3. Фискальный сумматор = 123461,7"));
}

TEST_F(SvcTest, TheMainTabReadsRegistersAndTemperatureAndSetsTheDisplayMode) {
    StartBus();
    SetSim(0x25, {0x0B, 0x02, 0xFB}, 2);
    SetSim(0x28, {0x01, 0xAB, 0x7F}, 2);
    Make<ui::TabIdent>();
    Button("bReadTemper")->setEnabled(true);
    Click("bReadTemper");
    EXPECT_EQ(Get<QLabel>("lTemperature")->text(), U("АЦП Т = 0x020B. Т = -5"));
    Button("bIrValRead")->setEnabled(true);
    Click("bIrValRead");
    const QString regs = Get<QPlainTextEdit>("mIRsValue")->toPlainText();
    EXPECT_TRUE(regs.startsWith("IR 24h = ")) << regs.toStdString();
    EXPECT_TRUE(regs.endsWith("IR 28h = 01\nIR 29h = AB\nIR 2Ah = 7F")) << regs.toStdString();

    // A radio button takes clicks on its circle and caption, not on the space beyond.
    auto* test = Get<QRadioButton>("rbTestTablo");
    QTest::mouseClick(test, Qt::LeftButton, {}, QPoint(8, test->height() / 2));
    Click("bSetTabloTest");
    EXPECT_EQ(status, U("Запись завершена успешно")) << status.toStdString();
    auto lock = bus->Lock();
    EXPECT_EQ(bus->Find(1)->displayMode, 2);
}

} // namespace
} // namespace velmar::test
