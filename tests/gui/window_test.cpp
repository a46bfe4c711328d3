// The window frame: tabs, menus, hints and "?" buttons, the log switch, the About box, and the
// application's handling of an escaped exception.
#include "gui_fixture.h"
#include "link/serial_port.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/hint_table.h"
#include "ui/pages/page.h"
#include "ui/velmar_application.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
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

    // The page tabs a screen reader is offered, with the pages behind them: "Сост канала" and
    // "Dump" have none, not even a hidden one; --service shows them in their place.
    auto offered = [this] {
        QStringList tabs;
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(Tabs()->tabBar());
        for (int i = 0; i < bar->childCount(); ++i)
            if (bar->child(i)->role() == QAccessible::PageTab)
                tabs << bar->child(i)->text(QAccessible::Name) + "=" +
                            Tabs()->widget(i)->objectName();
        return tabs;
    };
    const QStringList all = {"Основное меню=TabIdent",
                             "Настройки контроллера=TabCtrlrSetts",
                             "Доп настройки=TabAdvSet",
                             "Сост канала=TabNozzRegs",
                             "Настройки канала=TabNozSetts",
                             "Настройка стороны=TabRegsSides",
                             "Таблица температуры=TabTemperatureTbl",
                             "Dump=TabDump"};
    QStringList everyday = all;
    everyday.removeAt(7);
    everyday.removeAt(3);
    EXPECT_EQ(offered(), everyday);
    EXPECT_TRUE(window->PageByName("TabDump")->isHidden());
    Screenshot(QStringLiteral("window_everyday_tabs"));
    serviceMode = true;
    StartApp(QStringLiteral("1"));
    EXPECT_EQ(offered(), all);
    Screenshot(QStringLiteral("window_service_tabs"));
    EXPECT_FALSE(Find("TestEdit")->isHidden()); // the hidden test pair is a service tool
    EXPECT_FALSE(Find("TestButton")->isHidden());
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
    ASSERT_TRUE(session->PortClosed());
    prompts->messages.clear();
    clickTab(1);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
    EXPECT_TRUE(prompts->messages.isEmpty()); // no read was tried
    EXPECT_FALSE(Enabled("bCallIdent"));      // rule C

    // The same after a start whose port did not open.
    StartApp(QStringLiteral("1"), QStringLiteral("/dev/velmar-no-such-port"));
    clickTab(2);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
}

// Every field of every page and dialog can be found by its caption.
TEST_F(GuiTest, EveryInputControlHasAnAccessibleName) {
    StartSim({1});
    serviceMode = true; // the hidden pages too
    StartApp(QStringLiteral("1"));
    int controls = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!ui::IsInputControl(w)) continue;
        ++controls;
        EXPECT_FALSE(w->accessibleName().isEmpty())
            << w->objectName().toStdString() << " on " << w->window()->objectName().toStdString();
        // On Linux a combo box's accessible name is its value; its caption reaches the screen
        // reader through the label relation.
        if (!qobject_cast<QComboBox*>(w)) {
            EXPECT_EQ(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name),
                      w->accessibleName());
        }
    }
    EXPECT_GE(controls, 7);
    EXPECT_EQ(comSetting->findChild<QWidget*>("cbPortBRate")->accessibleName(), "Скорость");
}

// Qt's own texts speak Russian with the rest of the window.
TEST(GuiApplication, StandardButtonsAreRussian) {
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
}

TEST(GuiApplication, EscapedExceptionIsShownAndTheLoopGoesOn) {
    QStringList shown;
    ui::VelmarApplication::SetExceptionHandler([&](const QString& t) { shown << t; });
    bool after = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("boom"); });
    QTimer::singleShot(5, [&] { after = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return after; }, 5000));
    FailOnEscapedException();
    EXPECT_EQ(shown, QStringList{QStringLiteral("boom")});
}

} // namespace
} // namespace velmar::test
