// Where the window keeps its files. Run from a build tree (or from any folder that is not an
// installation) com.ini, port.out and demo_trk.bin are in the working directory, as they always
// were. Installed (the program in the bin folder of a prefix such as /usr) they are the user's:
// com.ini in $XDG_CONFIG_HOME/velmar, port.out and demo_trk.bin in $XDG_DATA_HOME/velmar, the demo
// image copied there from the installed one the first time demo mode needs it. Demo writes thus
// never touch the program's folder, the installed copy or the source tree.
#pragma once

#include <QString>

namespace velmar::ui {

struct SessionOptions;

struct FilePlaces {
    bool installed = false;
    QString comIni;
    QString exchangeLog; // empty: the exchange log's own default ($VELMAR_LOG_DIR or cwd)
    QString demoImage;
    QString journal;          // the journal of changes, next to the demo image
    QString shippedDemoImage; // the installed copy that seeds demoImage; empty when not installed
};

// True when a program in `programDir` is an installed one: in a folder named like the install
// prefix's bin folder and not inside `buildDir`, the build tree it was built in.
bool IsInstalledProgram(const QString& programDir, const QString& buildDir);

// The places for the program in `programDir` (the build tree is the one this program was built in).
FilePlaces ChooseFilePlaces(const QString& programDir);

// Makes the user's folders of an installed program and, when `demoMode` and the user has no
// demo image yet, copies the installed one there. Returns what went wrong, or an empty text.
QString PrepareFilePlaces(const FilePlaces& places, bool demoMode);

// Points the session's options and the exchange log at `places`.
void UseFilePlaces(const FilePlaces& places, SessionOptions& options);

} // namespace velmar::ui
