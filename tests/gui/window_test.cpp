// The window frame: tabs, menus, hints and "?" buttons, the log switch, the About box, and the
// application's handling of an escaped exception.
#include "gui_fixture.h"
#include "link/serial_port.h"
#include "ui/hint_table.h"
#include "ui/page.h"
#include "ui/velmar_application.h"

#include <QComboBox>
#include <QTabBar>
#include <QTimer>
#include <stdexcept>

namespace velmar::test {
namespace {

TEST_F(GuiTest, WindowFrameTabsAndMenus) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmar"));
    EXPECT_EQ(window->size(), QSize(800, 600));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    const QStringList names = {"TabIdent",    "TabCtrlrSetts", "TabAdvSet",         "TabNozzRegs",
                               "TabNozSetts", "TabRegsSides",  "TabTemperatureTbl", "TabDump"};
    const QStringList captions = {
        "Основное меню",    "Настройки контроллера", "Доп настройки",       "Сост канала",
        "Настройки канала", "Настройка стороны",     "Таблица температуры", "Dump"};
    ASSERT_EQ(Tabs()->count(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(Tabs()->widget(i)->objectName(), names[i]);
        EXPECT_EQ(Tabs()->tabText(i), captions[i]);
        const bool hidden = names[i] == "TabNozzRegs" || names[i] == "TabDump";
        EXPECT_EQ(Tabs()->isTabVisible(i), !hidden) << names[i].toStdString();
    }
    EXPECT_TRUE(Find("TestEdit")->isHidden());
    EXPECT_TRUE(Find("TestButton")->isHidden());
    EXPECT_EQ(MenuAction("menuExit")->shortcut(), QKeySequence(QStringLiteral("Alt+X")));

    // About box: first line, shown modally from the help menu.
    bool shown = false;
    prompts->onDialog = [&](QDialog& d) {
        shown = true;
        EXPECT_TRUE(d.findChild<QLabel*>(QStringLiteral("lTitle"))
                        ->text()
                        .startsWith(QStringLiteral("Программа настройки контроллеров v2.2")));
        ScreenshotOf(d, QStringLiteral("about"));
    };
    MenuAction("menuAbout")->trigger();
    EXPECT_TRUE(shown);
}

TEST_F(GuiTest, LogMenuTogglesTwiceBackToOff) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    QAction* item = MenuAction("menuWriteLog");
    EXPECT_EQ(Menu("menuLog")->title(), QStringLiteral("Лог(выкл)"));
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_EQ(Menu("menuLog")->title(), QStringLiteral("Лог(вкл)"));
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(GetLogMask(), 1);
    item->trigger();
    EXPECT_EQ(Menu("menuLog")->title(), QStringLiteral("Лог(выкл)"));
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(GetLogMask(), 0);
}

// A page as the later tabs declare them: fields with "?" buttons beside them.
class HelpPage : public ui::Page {
  public:
    HelpPage(ui::Session& s, QWidget* parent) : Page(s, parent) {
        for (const char* name : {"cbSpeedTrk", "cbMeterType", "cbPhaseMet", "eMinSpeed"}) {
            auto* field = new QComboBox(this);
            field->setObjectName(QLatin1String(name));
        }
        for (const char* name : {"helpSpeedTrk", "helpMeterType", "helpPhaseMet", "helpMinSpeed",
                                 "helpLoadVolLo", "helpShimDuration"}) {
            auto* b = new QPushButton(QStringLiteral("?"), this);
            b->setObjectName(QLatin1String(name));
        }
    }
};

TEST_F(GuiTest, EveryHelpButtonShowsItsFieldsHint) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    auto* page = new HelpPage(*session, Tabs());
    Tabs()->addTab(page, QStringLiteral("help"));
    window->RefreshHints();
    window->RefreshHints(); // binding twice must not show the text twice

    for (const ui::HintRow& row : ui::HintTable()) {
        for (const char* control : row.controls) {
            if (QLatin1String(control).startsWith(QLatin1String("help"))) continue;
            if (auto* w = window->findChild<QWidget*>(QLatin1String(control))) {
                EXPECT_EQ(w->toolTip(), ui::HintDisplayText(QString::fromUtf8(row.text)))
                    << control;
            }
        }
    }
    const QList<QPushButton*> helps = page->findChildren<QPushButton*>();
    ASSERT_EQ(helps.size(), 6);
    for (QPushButton* help : helps) {
        prompts->messages.clear();
        QTest::mouseClick(help, Qt::LeftButton);
        ASSERT_EQ(prompts->messages.size(), 1) << help->objectName().toStdString();
        EXPECT_EQ(prompts->messages[0], ui::HintDisplayText(ui::HintText(help->objectName())));
    }
    // Line breaks are kept; the field beside shows the same text.
    prompts->messages.clear();
    QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("helpMeterType")),
                      Qt::LeftButton);
    EXPECT_EQ(prompts->messages.value(0),
              QStringLiteral("Количество импульсов на литр датчика расходомера.\n- 100 "
                             "импульсов на литр \n- 256 импульсов на литр \n -Ручное(отдельно "
                             "для каждого раздаточного рукава, устанавливается в \"Настройках "
                             "канала\")"));
    EXPECT_EQ(page->findChild<QWidget*>(QStringLiteral("cbMeterType"))->toolTip(),
              prompts->messages.value(0));
    EXPECT_EQ(Find("bReset")->toolTip(), QStringLiteral("\"Теплый\" перезапуск устройства"));
    EXPECT_EQ(Find("bReservCall")->toolTip(),
              QStringLiteral("Связаться с устройством по резервному адресу. \n  Внимание! "
                             "Должно быть подключено только одно устройство"));
}

// With the port closed no other tab can be brought forward: it would read from no port.
TEST_F(GuiTest, WithThePortClosedTheMainTabStaysInFront) {
    StartSim({1});
    auto clickTab = [this](int index) {
        QTabBar* bar = Tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    };
    StartApp(QStringLiteral("1"));
    MenuAction("Setting1")->trigger(); // escaped: the port stays closed
    ASSERT_TRUE(session->portClosed);
    prompts->messages.clear();
    clickTab(1);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
    EXPECT_TRUE(prompts->messages.isEmpty()); // no read was tried
    EXPECT_FALSE(Enabled("bCallIdent"));      // rule C

    // The same after a start whose port did not open.
    StartApp(QStringLiteral("1"), QStringLiteral("/dev/velmar-no-such-port"));
    clickTab(2);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));

    // With the port open the tabs change as usual.
    prompts->onDialog = [this](QDialog& d) {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")), Qt::LeftButton);
    };
    session->portName = sim->SlavePath();
    MenuAction("Setting1")->trigger();
    ASSERT_FALSE(session->portClosed);
    clickTab(2);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabAdvSet"));
}

TEST(GuiApplication, EscapedExceptionIsShownAndTheLoopGoesOn) {
    QStringList shown;
    ui::VelmarApplication::SetExceptionHandler([&](const QString& t) { shown << t; });
    bool after = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("boom"); });
    QTimer::singleShot(5, [&] { after = true; });
    QTRY_VERIFY_WITH_TIMEOUT(after, 5000);
    FailOnEscapedException();
    EXPECT_EQ(shown, QStringList{QStringLiteral("boom")});
}

} // namespace
} // namespace velmar::test
