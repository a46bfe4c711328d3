// Reading the parameter block: what the controls show, the repairs and their messages.
#include "data/read_checks.h"
#include "setts_fixture.h"

namespace velmar::test {
namespace {

QStringList Row(ui::FieldGrid* grid) {
    return grid->Cells();
}

TEST_F(SettsTest, ShowingTheTabFillsEveryControlFromTheController) {
    StartBus();
    Show();
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join('|').toStdString();
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    EXPECT_TRUE(session->Model().Params().wasRead);
    EXPECT_TRUE(Button("bSetParam")->isEnabled());

    EXPECT_EQ(Combo("cbSpeedTrk")->currentText(), "4800");
    EXPECT_EQ(Combo("cbSpeed2CnlTrk")->currentText(), "4800");
    EXPECT_EQ(Combo("cbCountSideTrk")->currentText(), "2");
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "2");
    EXPECT_EQ(Combo("cbCountNozTrk")->count(), 8);
    EXPECT_EQ(Combo("cbMeterType")->currentText(), U("100 имп"));
    EXPECT_EQ(Combo("cbPhaseMet")->currentText(), U("две фазы"));
    EXPECT_EQ(Combo("cbTypeTbl")->currentText(), "TBL-217");
    EXPECT_EQ(Edit("eAdrTrk_1")->text(), "1");
    EXPECT_EQ(Edit("eAdrTrk_2")->text(), "2");
    EXPECT_EQ(Edit("eSlowStart")->text(), "100");
    EXPECT_EQ(Edit("eSlowLoad")->text(), "300");
    EXPECT_EQ(Edit("eNozzleFat")->text(), "300");
    EXPECT_EQ(Edit("eMetTOut")->text(), "15");
    EXPECT_EQ(Edit("eImp_len")->text(), "4");
    EXPECT_EQ(Edit("eNozzleWait")->text(), "3");
    EXPECT_EQ(Edit("eBitMaskHex")->text(), "1402");
    // 0x1402: bits 1, 10 and 12 are items 1, 9 and 11.
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(Modes()->item(i)->checkState() == Qt::Checked, i == 1 || i == 9 || i == 11) << i;

    EXPECT_TRUE(Get<QWidget>("gbSide2")->isVisibleTo(page.get()));
    EXPECT_EQ(Row(Grid("sgAdrNaraTrk_1")), QStringList({"1", "2"}));
    EXPECT_EQ(Row(Grid("sgAdrNaraTrk_2")), QStringList({"3", "4"}));
    EXPECT_EQ(Row(Grid("sgPhysToLogTrk_1")), QStringList({"0", "1"}));
    EXPECT_EQ(Row(Grid("sgPhysToLogTrk_2")), QStringList({"2", "3"}));
    EXPECT_EQ(Grid("sgPhysToLogTrk_1")->width(),
              2 * 23 + 2 * Grid("sgPhysToLogTrk_1")->frameWidth());
    EXPECT_EQ(InvalidCount(), 0);

    // Nothing was edited: a write is refused as unchanged and sends nothing.
    const int restarts = Restarts();
    Save();
    EXPECT_EQ(status, U("Запись не произведена. Не было изменений параметров"));
    EXPECT_EQ(Restarts(), restarts);
}

TEST_F(SettsTest, WithoutIdentificationTheTabIsLockedAndNothingIsRead) {
    StartBus();
    session->MarkNotIdentified();
    Show();
    EXPECT_EQ(prompts->messages, QStringList{U("Идентификатор не считан! Считайте идентификатор")});
    EXPECT_EQ(status, U("Идентификатор не считан! Считайте идентификатор"));
    EXPECT_FALSE(page->isEnabled());
    EXPECT_FALSE(Button("bGetParam")->isEnabled());
    EXPECT_FALSE(session->Model().Params().wasRead);
}

TEST_F(SettsTest, AFailedReadIsReportedAndLeavesTheControlsAlone) {
    StartBus();
    Show();
    {
        auto lock = bus->Lock();
        bus->GetFaults().noAnswer = true;
    }
    Click(Button("bGetParam"));
    EXPECT_EQ(prompts->messages, QStringList{U("Ошибка чтения параметров")});
    EXPECT_EQ(status, U("Ошибка чтения параметров"));
    EXPECT_FALSE(session->Model().Params().wasRead);
    EXPECT_FALSE(Button("bSetParam")->isEnabled());
    EXPECT_EQ(Edit("eMetTOut")->text(), "15");
}

// A block with a wrong checksum: reported on reading, and the first press of the write button
// sends the corrected block although nothing was edited.
TEST_F(SettsTest, WrongChecksumIsReportedAndWrittenOnTheFirstPress) {
    StartBus();
    const uint8_t good = SimParam(57);
    SetSimParams({{57, static_cast<uint8_t>(good ^ 0x5A)}}, false);
    Show();
    EXPECT_EQ(prompts->messages, QStringList{U("Внимание!   КСМ не верна! КСМ была пересчитана")});

    const int restarts = Restarts();
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(57), good);
    EXPECT_EQ(Restarts(), restarts + 1);

    Save();
    EXPECT_EQ(status, U("Запись не произведена. Не было изменений параметров"));
}

TEST_F(SettsTest, BadIndicesAreReplacedWithTheirMessagesAndSentByTheNextWrite) {
    StartBus();
    SetSimParams({{1, 9}, {22, 4}, {23, 200}, {34, 13}});
    Show();
    EXPECT_EQ(prompts->messages, QStringList({U(msg::kBadSpeed), U(msg::kBadMeterType),
                                              U(msg::kBadPhaseMet), U(msg::kBadTypeTbl)}));
    EXPECT_EQ(Combo("cbSpeed2CnlTrk")->currentText(), "4800");
    EXPECT_EQ(Combo("cbMeterType")->currentText(), U("100 имп"));
    EXPECT_EQ(Combo("cbPhaseMet")->currentText(), U("две фазы"));
    EXPECT_EQ(Combo("cbTypeTbl")->currentText(), "TBL-107");
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(1), 3);
    EXPECT_EQ(SimParam(22), 0);
    EXPECT_EQ(SimParam(23), 1);
    EXPECT_EQ(SimParam(34), 0);
}

// TrkModes 0xFFFF: the mask message, the check list keeps what it showed, the hex field shows it.
TEST_F(SettsTest, MaskFFFFLeavesTheCheckListAlone) {
    StartBus();
    Show();
    SetSimParams({{30, 0xFF}, {31, 0xFF}});
    Click(Button("bGetParam"));
    EXPECT_EQ(prompts->messages, QStringList{U(msg::kBadTrkModes)});
    EXPECT_EQ(status, U("Параметры успешно считаны"));
    EXPECT_EQ(Edit("eBitMaskHex")->text(), "FFFF");
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(Modes()->item(i)->checkState() == Qt::Checked, i == 1 || i == 9 || i == 11) << i;
}

// A hose count of 0 selects "1" without a message; the grids then show one hose.
TEST_F(SettsTest, HoseCountZeroSelectsOne) {
    StartBus();
    SetSimParams({{4, 0}});
    Show();
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join('|').toStdString();
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "1");
    EXPECT_EQ(Grid("sgAdrNaraTrk_1")->columnCount(), 1);
    EXPECT_EQ(Grid("sgPhysToLogTrk_2")->columnCount(), 1);
    // What the screen shows is what a write sends.
    Save();
    EXPECT_EQ(SimParam(4), 1);
}

// "Север" mode with three hoses per side: the list offers "1" and "2" only, and reading
// switches the hose count to 1, which the next write sends.
TEST_F(SettsTest, SeverModeWithThreeHosesDropsToOne) {
    sim::Options options;
    options.sides = 1;
    options.hosesPerSide = 3;
    StartBus(options);
    SetSimParams({{31, static_cast<uint8_t>(SimParam(31) | 0x80)}});
    Show();
    EXPECT_EQ(Combo("cbCountNozTrk")->count(), 2);
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "1");
    EXPECT_EQ(Grid("sgAdrNaraTrk_1")->columnCount(), 1);
    EXPECT_EQ(Modes()->item(14)->checkState(), Qt::Checked);
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(4), 1);

    // Without the mode the whole list is back and the block's count is shown.
    SetSimParams({{31, static_cast<uint8_t>(SimParam(31) & 0x7F)}, {4, 3}});
    Click(Button("bGetParam"));
    EXPECT_EQ(Combo("cbCountNozTrk")->count(), 8);
    EXPECT_EQ(Combo("cbCountNozTrk")->currentText(), "3");
    EXPECT_EQ(Grid("sgAdrNaraTrk_1")->columnCount(), 3);
}

TEST_F(SettsTest, ABlockOfAnotherSizeIsReadWithAWarning) {
    StartBus();
    {
        auto lock = bus->Lock();
        Memory()[0x3100] = 40;
    }
    Show();
    ASSERT_FALSE(prompts->messages.isEmpty());
    EXPECT_EQ(prompts->messages.front(), U(msg::kParamsSizeMismatch));
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    EXPECT_EQ(session->Store().Sizes().paramsLength, 40);
}

} // namespace
} // namespace velmar::test
