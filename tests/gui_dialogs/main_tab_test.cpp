// The main tab's setup buttons: which dialog each opens, the initial setup button under
// --service, and the repaint that serves a dialog's re-identification request.
#include "gui/gui_fixture.h"
#include "ui/dialogs/def_set.h"
#include "ui/dialogs/global_setts.h"
#include "ui/dialogs/view_param.h"
#include "ui/pages/tab_ident.h"

namespace velmar::test {
namespace {

class SetupButtonsTest : public GuiTest {
  protected:
    void StartWithDialogs(bool service) {
        StartSim({1});
        StartApp(QStringLiteral("1"));
        Reconfigure(*session, [&](ui::SessionOptions& o) { o.serviceMode = service; });
        globalSetts = std::make_unique<ui::TfGlobalSetts>(*session, window.get());
        defSet = std::make_unique<ui::TformDefSet>(*session, window.get());
        viewParam = std::make_unique<ui::TformViewParam>(*session, window.get());
        window->Ident().SetDialogs(globalSetts.get(), defSet.get(), viewParam.get());
        prompts->onDialog = [this](QDialog& d) { opened << d.windowTitle(); };
    }
    void TearDown() override {
        globalSetts.reset();
        defSet.reset();
        viewParam.reset();
        GuiTest::TearDown();
    }

    static QString U(const char* utf8) { return QString::fromUtf8(utf8); }

    std::unique_ptr<ui::TfGlobalSetts> globalSetts;
    std::unique_ptr<ui::TformDefSet> defSet;
    std::unique_ptr<ui::TformViewParam> viewParam;
    QStringList opened;
};

TEST_F(SetupButtonsTest, ButtonsOpenTheirDialogs) {
    StartWithDialogs(false);
    EXPECT_FALSE(Find("bGlobalSet")->isVisible()); // identification hid it
    QTest::mouseClick(Find("bGlobalDefaultSet"), Qt::LeftButton);
    QTest::mouseClick(Find("bSaveParamToText"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList({U("Заводские установки"), U("Параметры устройства")}));
}

// With --service the initial setup stays reachable after identification; its write asks for a
// new identification, which the window runs when the dialog closes. The controller gives another
// identification text from the moment its write is done: the window shows that text only when
// it asked the controller again after the write.
TEST_F(SetupButtonsTest, ServiceKeepsTheInitialSetupAndItsWriteReidentifies) {
    constexpr const char* kIdentAfterWrite = "Velmar-K2 v3.15\r\nSerial 000777\r\n";
    StartWithDialogs(true);
    QTest::mouseClick(Find("bCallIdent"), Qt::LeftButton);
    ASSERT_TRUE(Find("bGlobalSet")->isVisible());
    ASSERT_NE(IdentLines().first(), QStringLiteral("Velmar-K2 v3.15"));
    uint64_t framesAtWrite = 0;
    int restartsAtWrite = 0;
    prompts->onDialog = [&](QDialog& d) {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("bSaveParamGlobal")),
                          Qt::LeftButton);
        auto lock = sim->Lock();
        sim->Find(1)->identText = kIdentAfterWrite;
        restartsAtWrite = sim->Find(1)->restarts;
        framesAtWrite = sim->FramesSeen();
    };
    QTest::mouseClick(Find("bGlobalSet"), Qt::LeftButton);
    EXPECT_EQ(restartsAtWrite, 1) << "the setup was written and the controller restarted";
    EXPECT_FALSE(session->AnyReidentRequested());
    EXPECT_GT(sim->FramesSeen(), framesAtWrite);
    EXPECT_EQ(IdentLines().mid(0, 2),
              QStringList({QStringLiteral("Velmar-K2 v3.15"), QStringLiteral("Serial 000777")}));
    EXPECT_TRUE(session->Identified());
    EXPECT_EQ(Text("lIdentState"), U("Идентификатор считан"));
}

} // namespace
} // namespace velmar::test
