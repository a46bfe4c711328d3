// velmar: the service tool's window. Start-up order: the main window (which opens the port and
// identifies the controller), then the dialogs, then the event loop.
#include "sim/core/bus_simulator.h"
#include "ui/command_line.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/com_setting.h"
#include "ui/dialogs/def_set.h"
#include "ui/dialogs/global_setts.h"
#include "ui/dialogs/view_param.h"
#include "ui/file_places.h"
#include "ui/offline_image.h"
#include "ui/pages/tab_ident.h"
#include "ui/read_retry_setting.h"
#include "ui/session.h"
#include "ui/velmar_application.h"
#include "ui/velmar_main.h"

#include <QApplication>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    velmar::ui::VelmarApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmar"));
    if (!app.InstallRussianQtTexts())
        std::fprintf(stderr, "velmar: Qt's Russian translation is not installed "
                             "(qt6-translations-l10n): standard buttons stay in English\n");

    QStringList args = QApplication::arguments();
    args.removeFirst();
    const velmar::ui::CommandLine cmd = velmar::ui::ParseCommandLine(args);
    for (const QString& e : cmd.errors) std::fprintf(stderr, "velmar: %s\n", qPrintable(e));
    // Before the first port is opened: each port the window opens gets this retry count.
    const QString retryProblem = velmar::ui::ApplyReadRetrySetting(velmar::ui::WindowSettings());
    if (!retryProblem.isEmpty()) std::fprintf(stderr, "velmar: %s\n", qPrintable(retryProblem));

    velmar::ui::Session session;
    if (cmd.demoMode) session.EnterDemo();
    velmar::ui::SessionOptions sessionOptions;
    sessionOptions.serviceMode = cmd.service;
    // com.ini, port.out and the demo image: the working directory, or the user's folders when
    // the program is installed.
    const velmar::ui::FilePlaces places =
        velmar::ui::ChooseFilePlaces(QCoreApplication::applicationDirPath());
    if (const QString error = velmar::ui::PrepareFilePlaces(places, session.DemoMode());
        !error.isEmpty())
        std::fprintf(stderr, "velmar: %s\n", qPrintable(error));
    velmar::ui::UseFilePlaces(places, sessionOptions);
    if (!cmd.journalPath.isEmpty()) sessionOptions.journalPath = cmd.journalPath.toStdString();
    if (cmd.findIntervalMs) sessionOptions.findIntervalMs = *cmd.findIntervalMs;

    velmar::ui::StartOptions start;
    start.portName = cmd.portName;
    if (!cmd.portName.isEmpty())
        sessionOptions.extraPortNames.push_back(cmd.portName.toStdString());

    std::unique_ptr<velmar::sim::BusSimulator> simulator;
    if (cmd.simulate) {
        velmar::sim::Options options;
        options.addresses = cmd.simulatedAddresses;
        simulator = std::make_unique<velmar::sim::BusSimulator>(options);
        if (const int err = simulator->Start(); err != 0) {
            std::fprintf(stderr, "velmar: the simulator did not start (errno %d)\n", err);
            return 1;
        }
        start.portName = QString::fromStdString(simulator->SlavePath());
        if (auto* first = simulator->Find(cmd.simulatedAddresses.front()))
            start.baud = first->LineBaud();
        sessionOptions.extraPortNames.push_back(simulator->SlavePath());
        std::fprintf(stderr, "velmar: simulated controller(s) on %s\n",
                     simulator->SlavePath().c_str());
    }
    session.Configure(std::move(sessionOptions));

    // --image: the file is the controller of the session; a file that is no saved image is
    // refused with the reason before any window opens, and left as it was.
    if (!cmd.imagePath.isEmpty() && !velmar::ui::OpenOfflineImage(session, nullptr, cmd.imagePath))
        return 1;

    velmar::ui::TVelmarMain mainWindow(session);
    velmar::ui::VelmarApplication::SetExceptionHandler(
        [&](const QString& text) { session.Ask().Message(&mainWindow, text); });
    mainWindow.FormCreate(start);
    velmar::ui::TComSetting comSetting(session, &mainWindow);
    velmar::ui::TfGlobalSetts globalSetts(session, &mainWindow);
    velmar::ui::TfAbout about(&mainWindow);
    velmar::ui::TformDefSet defSet(session, &mainWindow);
    velmar::ui::TformViewParam viewParam(session, &mainWindow);
    mainWindow.SetComSetting(&comSetting);
    mainWindow.SetAbout(&about);
    mainWindow.Ident().SetDialogs(&globalSetts, &defSet, &viewParam);

    int result = 0;
    if (mainWindow.CloseOnShow()) {
        // The number query was cancelled: the window closes at once, with its clean-up, which
        // ends the port layer's converter thread before the program ends.
        mainWindow.close();
    } else {
        mainWindow.show();
        result = QApplication::exec();
    }
    velmar::ui::VelmarApplication::SetExceptionHandler({});
    return result;
}
