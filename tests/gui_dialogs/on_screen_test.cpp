// Real windows (xcb only; other platforms skip): the main window and every dialog, created with
// the main window as parent as the program does, open on the screen at no less than their size
// hint.
#include "dialogs_fixture.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/com_setting.h"
#include "ui/dialogs/def_set.h"
#include "ui/dialogs/global_setts.h"
#include "ui/dialogs/view_param.h"
#include "ui/velmar_main.h"

#include <QGuiApplication>
#include <QScreen>
#include <functional>

namespace velmar::test {
namespace {

void ExpectOnScreen(QWidget& w, bool placed) {
    SCOPED_TRACE(w.windowTitle().toStdString());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(300); // the window manager's own placement comes after the first exposure
    const QRect screen = w.screen()->geometry();
    const QRect frame = w.frameGeometry();
    EXPECT_TRUE(screen.contains(frame)) << "frame " << frame.x() << ',' << frame.y() << ' '
                                        << frame.width() << 'x' << frame.height();
    // No less than the layout's preferred size: every control as wide as it asks to be.
    const QSize hint = w.sizeHint();
    EXPECT_GE(w.width(), hint.width()) << "size hint " << hint.width() << 'x' << hint.height();
    EXPECT_GE(w.height(), hint.height()) << "size hint " << hint.width() << 'x' << hint.height();
    if (const QString shots = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR"); !shots.isEmpty())
        w.screen()->grabWindow(0).save(shots + QStringLiteral("/on_screen_") + w.objectName() +
                                       QStringLiteral(".png"));
    // A dialog is centred on its parent, not left at the screen's corner.
    if (placed) {
        EXPECT_NE(frame.topLeft(), screen.topLeft());
    }
}

TEST_F(DialogsTest, EveryWindowOpensOnTheScreenAtItsSize) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a real window system (xcb)";
    StartDemo();
    ui::TVelmarMain main(*session);
    main.show();
    ASSERT_NO_FATAL_FAILURE(ExpectOnScreen(main, false));
    const std::vector<std::function<std::unique_ptr<QDialog>()>> makers = {
        [&] { return std::make_unique<ui::TComSetting>(*session, &main); },
        [&] { return std::make_unique<ui::TfGlobalSetts>(*session, &main); },
        [&] { return std::make_unique<ui::TfAbout>(&main); },
        [&] { return std::make_unique<ui::TformDefSet>(*session, &main); },
        [&] { return std::make_unique<ui::TformViewParam>(*session, &main); },
    };
    for (const auto& make : makers) {
        const std::unique_ptr<QDialog> dialog = make();
        dialog->show();
        ExpectOnScreen(*dialog, true);
        dialog->hide();
    }
}

} // namespace
} // namespace velmar::test
