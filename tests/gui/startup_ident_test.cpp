// Start-up, identification and the ways of choosing a controller.
#include "gui_fixture.h"
#include "link/serial_port.h"

#include <QKeyEvent>
#include <cerrno>

namespace velmar::test {
namespace {

TEST_F(GuiTest, StartupNumberIsHexadecimal) {
    StartSim({31});
    StartApp(QStringLiteral("1f"));
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №31"));
    EXPECT_EQ(Text("lIdentState"), QStringLiteral("Идентификатор считан"));
    EXPECT_EQ(prompts->inputCaptions,
              QStringList{QStringLiteral("Введите номер Контроллера(HEX)|Введите номер "
                                         "Контроллера(HEX)")});
    EXPECT_TRUE(session->Identified());
    EXPECT_FALSE(window->NoCtrlrNumber());
    EXPECT_EQ(Menu("menuCom")->title(), QStringLiteral("Соm порт (открыт)"));
    // Rule A, and bGlobalSet is hidden by every identification.
    for (const char* b : {"bCallIdent", "bSimImp", "bReset", "bSaveImage", "bLoadImage",
                          "bReservCall", "bReadTemper", "bLoadFisk", "bSaveParamToText"})
        EXPECT_TRUE(Enabled(b)) << b;
    EXPECT_TRUE(Find("bGlobalSet")->isHidden());
    EXPECT_TRUE(Find("lSimulState")->isVisible());
    EXPECT_EQ(Text("lSimulState"), QStringLiteral("Имитатор выключен"));
    EXPECT_FALSE(IdentLines().join(QString()).isEmpty());
    Screenshot(QStringLiteral("identified"));
}

TEST_F(GuiTest, StartupNumberZeroGarbageOrEmptyIsOne) {
    StartSim({1});
    for (const QString& typed : {QStringLiteral("0"), QStringLiteral("zz"), QString()}) {
        StartApp(typed);
        EXPECT_EQ(session->Address(), 1) << typed.toStdString();
        EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №1"));
        window->close();
    }
}

TEST_F(GuiTest, CancelledNumberQueryClosesOnShow) {
    StartSim({1});
    StartApp(std::nullopt, {}, false);
    EXPECT_TRUE(window->CloseOnShow());
    // Closing the window that was never shown still ends the port layer and its thread.
    ASSERT_TRUE(PortLayerStarted());
    window->close();
    EXPECT_FALSE(PortLayerStarted());
    EXPECT_EQ(session->Slot(), 0);
}

TEST_F(GuiTest, PollAnsweredButNoIdentificationShowsTimeOut) {
    StartSim({1});
    {
        auto lock = sim->Lock();
        sim->GetFaults().noIdentAnswer = true;
    }
    StartApp(QStringLiteral("1"));
    EXPECT_TRUE(IdentLines().contains(QStringLiteral("TimeOut")));
    EXPECT_EQ(Text("lIdentState"), QStringLiteral("Идентификатор не считан"));
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Связь не установлена"));
    EXPECT_FALSE(session->Identified());
    // Rule B: controller functions off, the ways to retry stay on.
    for (const char* b : {"bSimImp", "bReset", "bSaveImage", "bLoadImage", "bGlobalDefaultSet",
                          "bIrValRead", "bLoadFisk", "bSaveParamToText"})
        EXPECT_FALSE(Enabled(b)) << b;
    EXPECT_TRUE(Enabled("bCallIdent"));
    EXPECT_TRUE(Enabled("bReservCall"));
    Screenshot(QStringLiteral("timeout"));
}

TEST_F(GuiTest, NoControllerAtTheNumber) {
    StartSim({1});
    StartApp(QStringLiteral("5"));
    const QString text = QStringLiteral("Нет связи с устройством №5");
    EXPECT_EQ(Text("lNumberCtrlr"), text);
    EXPECT_EQ(Text("lIdentState"), text);
    EXPECT_TRUE(IdentLines().contains(text));
    EXPECT_FALSE(Enabled("bSaveImage"));
}

TEST_F(GuiTest, ReserveChannelAdoptsTheAnsweringNumber) {
    StartSim({0x85});
    StartApp(QStringLiteral("1"));
    EXPECT_FALSE(session->Identified());
    prompts->confirms.push_back(true);
    QTest::mouseClick(Find<QPushButton>("bReservCall"), Qt::LeftButton);
    EXPECT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(session->Address(), 133);
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №133"));
    EXPECT_TRUE(session->Identified());

    // Cancel leaves the number alone.
    QTest::mouseClick(Find<QPushButton>("bReservCall"), Qt::LeftButton);
    EXPECT_EQ(session->Address(), 133);
}

TEST_F(GuiTest, FunctionKeysSwitchTheController) {
    StartSim({1, 3});
    StartApp(QStringLiteral("1"));
    Tabs()->setCurrentIndex(2);
    ASSERT_NE(CurrentTab(), QStringLiteral("TabIdent"));

    QTest::keyClick(Tabs()->currentWidget(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(session->Address(), 1);
    QTest::keyClick(Tabs()->currentWidget(), Qt::Key_F10);
    EXPECT_EQ(session->Address(), 1);

    QTest::keyClick(Tabs()->currentWidget(), Qt::Key_F3);
    EXPECT_EQ(session->Address(), 3);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №3"));

    // Ignored while an image goes to or from the controller.
    session->ImageTransferStarted();
    QTest::keyClick(Find("mIdent"), Qt::Key_F1);
    EXPECT_EQ(session->Address(), 3);
}

TEST_F(GuiTest, NumberMenuChecksTheEnteredNumber) {
    StartSim({1, 2});
    StartApp(QStringLiteral("1"));
    prompts->inputs.push_back(QStringLiteral("2"));
    MenuAction("menuChangeNumTrk")->trigger();
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №2"));

    prompts->inputs.push_back(QStringLiteral("zz"));
    MenuAction("menuChangeNumTrk")->trigger();
    EXPECT_EQ(prompts->messages.value(0), QStringLiteral("Введен неправильный номер ТРК!"));
    EXPECT_EQ(session->Address(), 2);
}

TEST_F(GuiTest, PulseSimulatorButtonSwitchesTheController) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    auto* button = Find<QPushButton>("bSimImp");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(button->text(), QStringLiteral("Выкл имитатор импульсов"));
    EXPECT_EQ(Text("lSimulState"), QStringLiteral("Имитатор включен"));
    {
        auto lock = sim->Lock();
        EXPECT_NE(sim->Find(1)->Space(2)[0x24] & 0x40, 0);
    }
    Find<QPushButton>("bCallIdent")->click();
    EXPECT_EQ(button->text(), QStringLiteral("Выкл. имитатор импульсов"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(button->text(), QStringLiteral("Вкл имитатор импульсов"));

    auto restarts = [this] {
        auto lock = sim->Lock();
        return sim->Find(1)->restarts;
    };
    const int before = restarts();
    QTest::mouseClick(Find<QPushButton>("bReset"), Qt::LeftButton);
    EXPECT_EQ(restarts(), before + 1);
}

TEST_F(GuiTest, PulseSimulatorSwitchThatFailsIsNotShownAsDone) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    auto* button = Find<QPushButton>("bSimImp");
    ASSERT_EQ(button->text(), QStringLiteral("Вкл. имитатор импульсов"));
    session->SetAddress(9); // the controller no longer answers at the number in use
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(button->text(), QStringLiteral("Вкл. имитатор импульсов"));
    EXPECT_EQ(Text("lSimulState"), QStringLiteral("Ошибка записи имитатора"));
    {
        auto lock = sim->Lock();
        EXPECT_EQ(sim->Find(1)->Space(2)[0x24] & 0x40, 0);
    }
    // Back at the right number the same click switches it on.
    session->SetAddress(1);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(button->text(), QStringLiteral("Выкл имитатор импульсов"));
    EXPECT_EQ(Text("lSimulState"), QStringLiteral("Имитатор включен"));
}

TEST_F(GuiTest, RestartTheControllerDoesNotTakeIsReported) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    {
        auto lock = sim->Lock();
        sim->GetFaults().writeStatusAddress = 0x88FFFF;
    }
    QTest::mouseClick(Find<QPushButton>("bReset"), Qt::LeftButton);
    EXPECT_EQ(Text("lIdentState"), QStringLiteral("Контроллер не ответил на команду рестарта"));
}

TEST_F(GuiTest, PortThatDoesNotOpenIsReportedWithItsReason) {
    StartApp(QStringLiteral("1"), QStringLiteral("/dev/velmar-no-such-port"));
    // The missing com.ini is not reported when the port comes from the command line.
    ASSERT_EQ(prompts->messages.size(), 1);
    const QString text = prompts->messages[0];
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("Ошибка открытия порта/dev/velmar-no-such-port. Проверьте настройки")))
        << text.toStdString();
    // The system's reason is the one the exchange thread met opening it, not the window thread's.
    EXPECT_TRUE(text.endsWith(QStringLiteral("\n") + QString::fromUtf8(SystemErrorReason(ENOENT))))
        << text.toStdString();
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Номер контроллера не введен"));
    EXPECT_EQ(Menu("menuCom")->title(), QStringLiteral("Соm порт (закрыт)"));
    EXPECT_TRUE(session->PortClosed());
    EXPECT_TRUE(window->NoCtrlrNumber());
    EXPECT_TRUE(prompts->inputCaptions.isEmpty());
    // Rule C from the first paint on: only the port settings lead anywhere.
    for (const char* b : {"bCallIdent", "bSimImp", "bGlobalSet", "bGlobalDefaultSet", "bReset",
                          "bReservCall", "bSaveImage", "bLoadImage"})
        EXPECT_FALSE(Enabled(b)) << b;
    EXPECT_FALSE(MenuAction("menuChangeNumTrk")->isEnabled());
    EXPECT_TRUE(MenuAction("Setting1")->isEnabled());
}

} // namespace
} // namespace velmar::test
