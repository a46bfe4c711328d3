// The port settings dialog, com.ini, and the enabling rules after it closes.
#include "cli/ser2net_gateway.h"
#include "gui_fixture.h"
#include "sim/core/controller_layout.h"
#include "sim/core/tcp_bridge.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>

namespace velmar::test {
namespace {

QString ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Picks the port and line parameters in the open dialog and presses "Установить".
auto Choose(const QString& port, const QString& baud, const QString& parity) {
    return [=](QDialog& d) {
        auto* ports = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"));
        ports->setCurrentIndex(ports->findText(port));
        auto* bauds = d.findChild<QComboBox*>(QStringLiteral("cbPortBRate"));
        bauds->setCurrentIndex(bauds->findText(baud));
        auto* parities = d.findChild<QComboBox*>(QStringLiteral("cbPortParity"));
        parities->setCurrentIndex(parities->findText(parity));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")), Qt::LeftButton);
    };
}

TEST_F(GuiTest, DialogClosedWithoutSavingLeavesThePortClosed) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    Tabs()->setCurrentIndex(2);
    prompts->onDialog = [this](QDialog& d) {
        EXPECT_EQ(Menu("menuCom")->title(), QStringLiteral("Соm порт (закрыт)"));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Настройки com порта"));
    };
    MenuAction("Setting1")->trigger();
    EXPECT_TRUE(prompts->messages.contains(
        QStringLiteral("Не найден ини файл. Восстановлены параметры по умолчании")));
    EXPECT_TRUE(session->PortClosed());
    EXPECT_EQ(session->Slot(), 0);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
    // Rule C.
    for (const char* b : {"bCallIdent", "bSimImp", "bReset", "bReservCall", "bSaveImage",
                          "bLoadImage", "bGlobalDefaultSet"})
        EXPECT_FALSE(Enabled(b)) << b;
    EXPECT_FALSE(MenuAction("menuChangeNumTrk")->isEnabled());
    EXPECT_FALSE(QFile::exists(QStringLiteral("com.ini")));
    Screenshot(QStringLiteral("port-closed"));
}

TEST_F(GuiTest, DialogAsksAboutComIniBeforeItAppears) {
    // A modal box run while the dialog was being shown left it at its unlaid-out first size.
    StartSim({1});
    StartApp(QStringLiteral("1"));
    std::optional<bool> visibleAtQuestion;
    prompts->onMessage = [&](const QString&) { visibleAtQuestion = comSetting->isVisible(); };
    prompts->onDialog = [](QDialog& d) {
        EXPECT_GE(d.width(), d.sizeHint().width());
        EXPECT_GE(d.height(), d.sizeHint().height());
    };
    MenuAction("Setting1")->trigger();
    ASSERT_TRUE(visibleAtQuestion.has_value());
    EXPECT_FALSE(*visibleAtQuestion);
}

TEST_F(GuiTest, DialogOpensThePortAndWritesComIni) {
    StartSim({1});
    const QString pty = QString::fromStdString(sim->SlavePath());
    // Reserved fields are written back as they were read.
    WriteFile(QStringLiteral("com.ini"), "COM7 0 2400 5 0 1 8 N 1\r\nCOM8 0 1200\r\n");
    StartApp(QStringLiteral("1"), pty);
    ASSERT_TRUE(session->Identified());

    prompts->onDialog = [&](QDialog& d) {
        // The stored speed 2400 is not in the list: 4800 is shown.
        EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("cbPortBRate"))->currentText(),
                  QStringLiteral("4800"));
        EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("cbPortParity"))->currentText(),
                  QStringLiteral("None"));
        ScreenshotOf(d, QStringLiteral("port-dialog"));
        Choose(pty, QStringLiteral("4800"), QStringLiteral("Event"))(d);
    };
    MenuAction("Setting1")->trigger();
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")), pty + QStringLiteral(" 0 4800 5 0 1 8 E 1"));
    EXPECT_FALSE(session->PortClosed());
    EXPECT_NE(session->Slot(), 0);
    EXPECT_EQ(Menu("menuCom")->title(), QStringLiteral("Соm порт (открыт)"));
    // Rule E: everything back on, the number is known.
    for (const char* b : {"bCallIdent", "bSimImp", "bReset", "bReservCall", "bSaveImage"})
        EXPECT_TRUE(Enabled(b)) << b;
    EXPECT_TRUE(MenuAction("menuChangeNumTrk")->isEnabled());

    // Saving again with no parity writes N, in the one-line shape.
    prompts->onDialog = Choose(pty, QStringLiteral("9600"), QStringLiteral("None"));
    MenuAction("Setting1")->trigger();
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")), pty + QStringLiteral(" 0 9600 5 0 1 8 N 1"));
}

TEST_F(GuiTest, DialogTakesATypedNetworkPortAndOffersItAgain) {
    StartSim({1});
    sim::TcpBridge gateway;
    ASSERT_EQ(gateway.Start(sim->SlavePath(), 0), 0);
    const QString name = QStringLiteral("tcp:127.0.0.1:%1").arg(gateway.Port());
    StartApp(QStringLiteral("1"));

    prompts->onDialog = [&](QDialog& d) {
        auto* ports = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"));
        ports->lineEdit()->clear();
        QTest::keyClicks(ports, name);
        ScreenshotOf(d, QStringLiteral("port-dialog-network"));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")), Qt::LeftButton);
    };
    MenuAction("Setting1")->trigger();
    EXPECT_NE(session->Slot(), 0);
    EXPECT_EQ(GetPortKind(session->Slot()), PortKind::TcpGateway);
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")), name + QStringLiteral(" 0 4800 0 1 0 8 N 1"));
    EXPECT_EQ(gateway.Connections(), 1);

    // Not discovered, yet offered again as the port in use.
    QString shown;
    prompts->onDialog = [&](QDialog& d) {
        shown = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"))->currentText();
        d.reject();
    };
    MenuAction("Setting1")->trigger();
    EXPECT_EQ(shown, name);

    // A typed name that starts another one on the list stays as typed.
    const QString shorter = name.left(name.size() - 1);
    prompts->onDialog = [&](QDialog& d) {
        auto* ports = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"));
        ports->lineEdit()->clear();
        QTest::keyClicks(ports, shorter);
        QTest::keyClick(ports, Qt::Key_Tab);
        shown = ports->currentText();
        d.reject();
    };
    MenuAction("Setting1")->trigger();
    EXPECT_EQ(shown, shorter);
}

TEST_F(GuiTest, DialogAfterFailedStartLeavesOnlyReserveAndNumberMenu) {
    StartSim({1});
    StartApp(QStringLiteral("1"), QStringLiteral("/dev/velmar-no-such-port"));
    ASSERT_TRUE(window->NoCtrlrNumber());
    const QString pty = QString::fromStdString(sim->SlavePath());
    prompts->onDialog = Choose(pty, QStringLiteral("4800"), QStringLiteral("None"));
    MenuAction("Setting1")->trigger();
    ASSERT_FALSE(session->PortClosed());
    // Rule D.
    EXPECT_TRUE(Enabled("bReservCall"));
    EXPECT_TRUE(MenuAction("menuChangeNumTrk")->isEnabled());
    for (const char* b : {"bCallIdent", "bSimImp", "bReset", "bSaveImage", "bLoadImage",
                          "bGlobalSet", "bGlobalDefaultSet"})
        EXPECT_FALSE(Enabled(b)) << b;
    Screenshot(QStringLiteral("port-dialog-no-number"));

    // The number menu then identifies.
    prompts->inputs.push_back(QStringLiteral("1"));
    MenuAction("menuChangeNumTrk")->trigger();
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №1"));
}

TEST_F(GuiTest, DialogKeepsComIniWhenThePortDoesNotOpen) {
    StartSim({1});
    WriteFile(QStringLiteral("com.ini"), "COM3 0 9600 0 1 0 8 N 1");
    StartApp(QStringLiteral("1"));
    Reconfigure(*session, [&](ui::SessionOptions& o) {
        o.extraPortNames.push_back("/dev/velmar-no-such-port");
    });
    prompts->onDialog = [&](QDialog& d) {
        Choose(QStringLiteral("/dev/velmar-no-such-port"), QStringLiteral("9600"),
               QStringLiteral("None"))(d);
        EXPECT_TRUE(d.isVisible()); // stays open for another choice
    };
    MenuAction("Setting1")->trigger();
    ASSERT_FALSE(prompts->messages.isEmpty());
    EXPECT_TRUE(prompts->messages.last().startsWith(QStringLiteral("Ошибка открытия порта")));
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")), QStringLiteral("COM3 0 9600 0 1 0 8 N 1"));
    EXPECT_TRUE(session->PortClosed());
}

// A gateway that opens the line at 4800 in front of a controller at 9600: the speed chosen in
// the dialog reaches the line through the gateway (RFC 2217).
TEST_F(GuiTest, DialogSetsTheLineBehindAnRfc2217Gateway) {
    if (Ser2NetGateway::Program().empty())
        GTEST_SKIP() << "ser2net is not installed (Debian package ser2net)";
    constexpr uint8_t kSpeedIndex9600 = 2;
    StartSim({1});
    {
        auto lock = sim->Lock();
        sim::Controller& c = *sim->Controllers().front();
        c.Space(0)[sim::layout::kParams + sim::layout::kSpeedTrk] = kSpeedIndex9600;
        c.FixParamsChecksum();
        c.Restart();
    }
    Ser2NetGateway gateway;
    ASSERT_TRUE(
        gateway.Start(sim->SlavePath(), 4800, Ser2NetGateway::Mode::Rfc2217,
                      QDir::current().filePath(QStringLiteral("ser2net.log")).toStdString()));
    const QString name = QStringLiteral("rfc2217:127.0.0.1:%1").arg(gateway.Port());
    StartApp(QStringLiteral("1"));

    prompts->onDialog = [&](QDialog& d) {
        auto* ports = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"));
        ports->lineEdit()->clear();
        QTest::keyClicks(ports, name);
        auto* bauds = d.findChild<QComboBox*>(QStringLiteral("cbPortBRate"));
        bauds->setCurrentIndex(bauds->findText(QStringLiteral("9600")));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")), Qt::LeftButton);
    };
    MenuAction("Setting1")->trigger();
    ASSERT_NE(session->Slot(), 0) << prompts->messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(GetPortKind(session->Slot()), PortKind::Rfc2217Gateway);
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")), name + QStringLiteral(" 0 9600 0 1 0 8 N 1"));
    QTest::mouseClick(Find<QPushButton>("bCallIdent"), Qt::LeftButton);
    EXPECT_EQ(Text("lIdentState"), QStringLiteral("Идентификатор считан"));
    EXPECT_EQ(sim->BytesIgnoredForBaud(), 0u);
}

// Started on a port given on the command line: the dialog offers that port and its speed, so
// "Установить" keeps them, instead of the port com.ini names.
TEST_F(GuiTest, DialogStartsFromThePortInUse) {
    StartSim({1});
    const QString pty = QString::fromStdString(sim->SlavePath());
    WriteFile(QStringLiteral("com.ini"), "/dev/velmar-no-such-port 0 9600 0 1 0 8 N 1");
    StartApp(QStringLiteral("1"), pty);
    ASSERT_TRUE(session->Identified());
    Reconfigure(*session, [&](ui::SessionOptions& o) {
        o.extraPortNames.push_back("/dev/velmar-no-such-port");
    });
    const QString speed = QString::number(session->Line().baud);
    prompts->onDialog = [&](QDialog& d) {
        EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("cbComNumber"))->currentText(), pty);
        EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("cbPortBRate"))->currentText(), speed);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")), Qt::LeftButton);
    };
    MenuAction("Setting1")->trigger();
    EXPECT_EQ(session->Line().portName, pty.toStdString());
    EXPECT_EQ(ReadFile(QStringLiteral("com.ini")),
              pty + QStringLiteral(" 0 ") + speed + QStringLiteral(" 0 1 0 8 N 1"));
    QTest::mouseClick(Find<QPushButton>("bCallIdent"), Qt::LeftButton);
    EXPECT_EQ(Text("lIdentState"), QStringLiteral("Идентификатор считан"));
}

// A box asked for by a dialog not shown yet goes over the window the dialog will appear on; a
// box raised while a modal dialog is open goes over that dialog.
TEST_F(GuiTest, BoxesGoOverTheWindowInFront) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    ASSERT_FALSE(comSetting->isVisible());
    EXPECT_EQ(ui::BoxParent(comSetting->findChild<QComboBox*>(QStringLiteral("cbPortBRate"))),
              window.get());
    comSetting->show();
    EXPECT_EQ(ui::BoxParent(window.get()), comSetting.get());
    EXPECT_EQ(ui::BoxParent(nullptr), comSetting.get());
    comSetting->reject();
    EXPECT_EQ(ui::BoxParent(Find("bCallIdent")), window.get());
    window->hide(); // as at start-up: the box goes to the middle of the screen
    EXPECT_EQ(ui::BoxParent(Find("bCallIdent")), nullptr);
}

} // namespace
} // namespace velmar::test
