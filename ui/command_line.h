// The program's command line: "/i" (any case) for demo mode, "-tfind N" for the search interval,
// and the options of our own: --port NAME, --simulate[=N,M,...], --service, --image FILE and
// --journal FILE.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace velmar::ui {

struct CommandLine {
    bool demoMode = false;
    std::optional<int> findIntervalMs;
    QString portName;      // --port NAME: replaces the port of com.ini
    bool simulate = false; // --simulate: built-in simulator on a pseudo-terminal
    std::vector<int> simulatedAddresses{1};
    bool service = false; // --service: the hidden service pages and buttons are shown
    QString imagePath;    // --image FILE: a saved image file is the controller (no line)
    QString journalPath;  // --journal FILE: the journal of changes instead of the default one
    QStringList errors;   // options we could not understand
};

// `args` without the program name (Qt's own options already removed).
CommandLine ParseCommandLine(const QStringList& args);

} // namespace velmar::ui
