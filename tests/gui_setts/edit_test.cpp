// Editing: numeric fields, the mode mask, the topology grids and addresses, the counts.
#include "setts_fixture.h"

namespace velmar::test {
namespace {

// SlowStart: 255 is shown and entered unscaled, 25500 stores 255 as well, 300 stores 3.
TEST_F(SettsTest, SlowStartKeeps255Unscaled) {
    StartBus();
    SetSimParams({{24, 255}});
    Show();
    EXPECT_EQ(Edit("eSlowStart")->text(), "255");

    TypeInto(Edit("eSlowStart"), "25500");
    Tab();
    EXPECT_EQ(session->Model().Params().working.SlowStart(), 255);
    EXPECT_FALSE(Marked("eSlowStart"));

    TypeInto(Edit("eSlowStart"), "300");
    Tab();
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(24), 3);

    TypeInto(Edit("eSlowStart"), "255");
    Tab();
    Save();
    EXPECT_EQ(SimParam(24), 255);
}

// A bad entry turns the field red, is counted, keeps the last good value and blocks the write;
// passing through a field without typing does not check it again.
TEST_F(SettsTest, BadNumbersAreMarkedAndBlockTheWrite) {
    StartBus();
    Show();
    TypeInto(Edit("eNozzleWait"), "100"); // limit 99
    Tab();
    TypeInto(Edit("eMetTOut"), "");
    Tab();
    TypeInto(Edit("eImp_len"), "300"); // wider than its byte: refused, not stored as 44
    Tab();
    EXPECT_TRUE(Marked("eNozzleWait"));
    EXPECT_TRUE(Marked("eMetTOut"));
    EXPECT_TRUE(Marked("eImp_len"));
    EXPECT_EQ(InvalidCount(), 3);
    TypeInto(Edit("eImp_len"), "4");
    Tab();
    EXPECT_EQ(InvalidCount(), 2);
    EXPECT_EQ(session->Model().Params().working.NozzleWait(), 3);

    Click(Edit("eMetTOut"));
    Tab(); // left without typing: still red
    EXPECT_TRUE(Marked("eMetTOut"));

    Save();
    EXPECT_EQ(status, U("Запись не произведена. Исправьте ошибку и повторите попытку"));
    EXPECT_EQ(SimParam(29), 3);

    TypeInto(Edit("eMetTOut"), "20");
    Tab();
    EXPECT_EQ(InvalidCount(), 1);
    Save();
    EXPECT_EQ(status, U("Запись не произведена. Исправьте ошибку и повторите попытку"));
    TypeInto(Edit("eNozzleWait"), "99");
    Tab();
    EXPECT_EQ(InvalidCount(), 0);
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(27), 20);
    EXPECT_EQ(SimParam(29), 99);

    // A new read makes every field white again.
    TypeInto(Edit("eNozzleFat"), "2560");
    Tab();
    EXPECT_TRUE(Marked("eNozzleFat"));
    Click(Button("bGetParam"));
    EXPECT_FALSE(Marked("eNozzleFat"));
    EXPECT_EQ(InvalidCount(), 0);
}

// The check list rebuilds the mask with bit 8 left out; the hex field can set bit 8, and the
// next click on the list clears it again.
TEST_F(SettsTest, ModeMaskListAndHexField) {
    StartBus();
    Show();
    TypeInto(Edit("eBitMaskHex"), "0103");
    Tab();
    EXPECT_EQ(session->Model().Params().working.TrkModes(), 0x0103);
    EXPECT_EQ(Modes()->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(Modes()->item(9)->checkState(), Qt::Unchecked);

    Modes()->item(14)->setCheckState(Qt::Checked); // "Север"
    EXPECT_EQ(session->Model().Params().working.TrkModes(), 0x8003);
    EXPECT_EQ(Edit("eBitMaskHex")->text(), "8003");
    // Two sides with two hoses is more than "Север" allows: one hose per side remains.
    EXPECT_EQ(Combo("cbCountNozTrk")->count(), 2);
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "1");
    EXPECT_EQ(session->Model().Params().working.CountNozTrk(), 1);

    TypeInto(Edit("eBitMaskHex"), "G1");
    Tab();
    EXPECT_TRUE(Marked("eBitMaskHex"));
    EXPECT_EQ(session->Model().Params().working.TrkModes(), 0x8003);
    TypeInto(Edit("eBitMaskHex"), "0002");
    Tab();
    EXPECT_FALSE(Marked("eBitMaskHex"));
    EXPECT_EQ(Combo("cbCountNozTrk")->count(), 8);
    Save();
    EXPECT_EQ(SimParam(30), 0x02);
    EXPECT_EQ(SimParam(31), 0x00);
}

// Switching a mode that has nothing to do with the hose count keeps an edited physical map.
TEST_F(SettsTest, AModeClickKeepsTheMap) {
    StartBus();
    Show();
    // A map of 3, 1 / 2, 0; on the way there side A clashes with side B for a moment.
    TypeCell(Grid("sgPhysToLogTrk_1"), 0, "3");
    TypeCell(Grid("sgPhysToLogTrk_2"), 1, "0");
    EXPECT_TRUE(Marked("sgPhysToLogTrk_1"));
    ClickCell(Grid("sgPhysToLogTrk_1"), 0);
    Tab();
    EXPECT_FALSE(Marked("sgPhysToLogTrk_1"));
    EXPECT_FALSE(Marked("sgPhysToLogTrk_2"));
    Modes()->item(0)->setCheckState(Qt::Checked);
    EXPECT_EQ(Grid("sgPhysToLogTrk_1")->Cells(), QStringList({"3", "1"}));
    EXPECT_EQ(Grid("sgPhysToLogTrk_2")->Cells(), QStringList({"2", "0"}));
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(35), 3);
    EXPECT_EQ(SimParam(36), 2);
    EXPECT_EQ(SimParam(37), 1);
    EXPECT_EQ(SimParam(38), 0);
    EXPECT_EQ(SimParam(30), 0x03);
}

// Nara grids: 0 may repeat, other duplicates (within a side or across sides) and values above
// a byte are errors; a red grid blocks the write and stores nothing.
TEST_F(SettsTest, GridDuplicatesAnd257AreMarked) {
    StartBus();
    Show();
    ui::FieldGrid* naraA = Grid("sgAdrNaraTrk_1");
    TypeCell(naraA, 1, "1");
    Tab();
    EXPECT_TRUE(Marked("sgAdrNaraTrk_1"));
    EXPECT_EQ(naraA->palette().color(QPalette::Text), QColor(Qt::red));
    Save();
    EXPECT_EQ(status, U("Запись не произведена. Исправьте ошибку и повторите попытку"));

    TypeCell(naraA, 1, "3"); // side B's first hose has 3
    Tab();
    EXPECT_TRUE(Marked("sgAdrNaraTrk_1"));
    TypeCell(naraA, 0, "0");
    TypeCell(naraA, 1, "0");
    Tab();
    EXPECT_FALSE(Marked("sgAdrNaraTrk_1"));
    EXPECT_EQ(InvalidCount(), 0);

    ui::FieldGrid* mapB = Grid("sgPhysToLogTrk_2");
    TypeCell(mapB, 0, "257");
    Tab();
    EXPECT_TRUE(Marked("sgPhysToLogTrk_2"));
    TypeCell(mapB, 0, "255");
    TypeCell(mapB, 1, "255");
    Tab();
    EXPECT_FALSE(Marked("sgPhysToLogTrk_2"));

    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(6), 0);
    EXPECT_EQ(SimParam(7), 0);
    EXPECT_EQ(SimParam(36), 255);
    EXPECT_EQ(SimParam(38), 255);
}

TEST_F(SettsTest, GridKeysDigitsOnlyEnterMovesOnAndWraps) {
    StartBus();
    Show();
    ui::FieldGrid* nara = Grid("sgAdrNaraTrk_2");
    ClickCell(nara, 0);
    Type("x7");
    Key(Qt::Key_Return);
    EXPECT_EQ(nara->Cell(0), "7");
    EXPECT_EQ(nara->currentColumn(), 1);
    Type("8");
    Key(Qt::Key_Return);
    EXPECT_EQ(nara->Cell(1), "8");
    EXPECT_EQ(nara->currentColumn(), 0); // from the last column back to the first
    Type("a");
    EXPECT_EQ(nara->Cell(0), "7");
    Tab();
    EXPECT_NE(Focus(), nara);
    EXPECT_FALSE(Marked("sgAdrNaraTrk_2"));
    EXPECT_EQ(session->Model().Params().working.AdrNaraTrk(2), 7);
    EXPECT_EQ(session->Model().Params().working.AdrNaraTrk(3), 8);

    TypeInto(Edit("eAdrTrk_1"), "1b2");
    EXPECT_EQ(Edit("eAdrTrk_1")->text(), "12");
}

// Side addresses: equal texts mark both fields; "7" and "07" are different texts.
TEST_F(SettsTest, SideAddressesEqualAsText) {
    StartBus();
    Show();
    TypeInto(Edit("eAdrTrk_1"), "7");
    TypeInto(Edit("eAdrTrk_2"), "7");
    Tab();
    EXPECT_TRUE(Marked("eAdrTrk_1"));
    EXPECT_TRUE(Marked("eAdrTrk_2"));
    EXPECT_EQ(Edit("eAdrTrk_1")->palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(InvalidCount(), 2);
    Save();
    EXPECT_EQ(status, U("Запись не произведена. Исправьте ошибку и повторите попытку"));
    EXPECT_EQ(SimParam(2), 1);

    TypeInto(Edit("eAdrTrk_2"), "07");
    Tab();
    EXPECT_FALSE(Marked("eAdrTrk_1"));
    EXPECT_FALSE(Marked("eAdrTrk_2"));
    EXPECT_EQ(InvalidCount(), 0);
    EXPECT_EQ(session->Model().Params().working.AdrTrk_1(), 7);
    EXPECT_EQ(session->Model().Params().working.AdrTrk_2(), 7);

    // Out of a byte, or empty: only that field is marked.
    TypeInto(Edit("eAdrTrk_2"), "256");
    Tab();
    EXPECT_TRUE(Marked("eAdrTrk_2"));
    EXPECT_FALSE(Marked("eAdrTrk_1"));
    TypeInto(Edit("eAdrTrk_1"), "9");
    Tab();
    EXPECT_TRUE(Marked("eAdrTrk_2")) << "a bad text stays marked";
    EXPECT_EQ(session->Model().Params().working.AdrTrk_2(), 7);
}

// Counts: the grids follow the hose count, Nara addresses are numbered, the maps reset. Choosing
// the count already shown counts as a choice too.
TEST_F(SettsTest, CountChangesReshapeTheGrids) {
    StartBus();
    SetSimParams({{6, 0}, {7, 0}, {8, 0}, {9, 0}, {35, 1}, {37, 0}});
    Show();
    EXPECT_EQ(Grid("sgPhysToLogTrk_1")->Cells(), QStringList({"1", "0"}));
    Choose(Combo("cbCountNozTrk"), "2");
    EXPECT_EQ(Grid("sgPhysToLogTrk_1")->Cells(), QStringList({"0", "1"}));
    Choose(Combo("cbCountNozTrk"), "3");
    EXPECT_EQ(session->Model().Params().working.CountNozTrk(), 3);
    for (const char* grid :
         {"sgAdrNaraTrk_1", "sgAdrNaraTrk_2", "sgPhysToLogTrk_1", "sgPhysToLogTrk_2"}) {
        EXPECT_EQ(Grid(grid)->columnCount(), 3) << grid;
        EXPECT_EQ(Grid(grid)->width(), 3 * 23 + 2 * Grid(grid)->frameWidth()) << grid;
    }
    EXPECT_EQ(Grid("sgAdrNaraTrk_1")->Cells(), QStringList({"1", "2", "3"}));
    EXPECT_EQ(Grid("sgAdrNaraTrk_2")->Cells(), QStringList({"4", "5", "6"}));
    EXPECT_EQ(Grid("sgPhysToLogTrk_2")->Cells(), QStringList({"3", "4", "5"}));

    Choose(Combo("cbCountSideTrk"), "1");
    EXPECT_FALSE(Get<QWidget>("gbSide2")->isVisibleTo(page.get()));
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(4), 3);
    EXPECT_EQ(SimParam(5), 1);
    EXPECT_EQ(SimParam(6), 1);
    EXPECT_EQ(SimParam(8), 3);
    EXPECT_EQ(SimParam(35), 0);
    EXPECT_EQ(SimParam(36), 255); // no side B
    EXPECT_EQ(SimParam(39), 2);
    EXPECT_EQ(SimParam(41), 255);

    // One side with two hoses: the map goes into bytes 35 and 36.
    Choose(Combo("cbCountNozTrk"), "2");
    Save();
    EXPECT_EQ(SimParam(35), 0);
    EXPECT_EQ(SimParam(36), 1);
    for (int b = 37; b <= 50; ++b) EXPECT_EQ(SimParam(b), 255) << b;
    // Side B's Nara cells follow side A's (bytes 8, 9); the rest of the area is cleared.
    for (int b = 10; b <= 21; ++b) EXPECT_EQ(SimParam(b), 0) << b;
}

TEST_F(SettsTest, SeverTwoSidesDropsToOneHose) {
    StartBus();
    Show();
    Choose(Combo("cbCountSideTrk"), "1");
    Modes()->item(14)->setCheckState(Qt::Checked);
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "2");
    Choose(Combo("cbCountSideTrk"), "2");
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "1");
    Choose(Combo("cbCountNozTrk"), "2");
    EXPECT_EQ(Combo("cbCountSideTrk")->currentText(), "1");
    EXPECT_FALSE(Get<QWidget>("gbSide2")->isVisibleTo(page.get()));
}

// Leaving the manual meter type or phase asks first; Cancel keeps the manual item.
TEST_F(SettsTest, LeavingManualMeterModesAsks) {
    StartBus();
    SetSimParams({{22, 3}, {23, 3}});
    Show();
    Choose(Combo("cbMeterType"), U("256 имп"));
    ASSERT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(prompts->confirmTexts[0],
              U("                      ВНИМАНИЕ!\n\r Выставлен ручной режим "
                "типов датчиков.\n\r Типы будут изменены для всех "
                "каналов.\n\r               Вы хотите продолжить?"));
    EXPECT_EQ(Combo("cbMeterType")->currentText(), U("ручное"));
    EXPECT_EQ(session->Model().Params().working.MeterType(), 3);

    prompts->confirms = {true};
    Choose(Combo("cbPhaseMet"), U("одна фаза(2)"));
    ASSERT_EQ(prompts->confirmTexts.size(), 2);
    EXPECT_TRUE(prompts->confirmTexts[1].contains(U("ручной режим пересчета фаз")));
    EXPECT_EQ(session->Model().Params().working.PhaseMet(), 2);
}

} // namespace
} // namespace velmar::test
