// Every GUI test program runs with the program's own application object on the offscreen
// platform (or on a display when QT_QPA_PLATFORM says so, for screenshots); an exception that
// escapes an event handler fails the running test.
#include "gui_common/fake_prompts.h"
#include "ui/velmar_application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    velmar::ui::VelmarApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmar"));
    app.InstallRussianQtTexts(); // checked by a test
    velmar::test::FailOnEscapedException();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
