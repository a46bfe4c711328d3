// Where a program finds its demo image. Run from a build tree (or from any folder that is not an
// installation) it is demo_trk.bin in the working directory. Installed (the program in the bin
// folder of a prefix such as /usr) it is the user's own copy in $XDG_DATA_HOME/velmar, made from
// the installed one the first time it is needed, so that demo writes never touch the installed
// copy. The window and the command line share this lookup.
#pragma once

#include <string>

namespace velmar {

inline constexpr const char* kDemoImageName = "demo_trk.bin";

// True when a program in `programDir` is an installed one: in a folder named like the install
// prefix's bin folder and not inside `buildDir`, the build tree it was built in.
bool IsInstalledProgram(const std::string& programDir, const std::string& buildDir);
// The same, for the build tree this program was built in.
bool IsInstalledProgram(const std::string& programDir);

// The installed demo image next to an installed program in `programDir`.
std::string ShippedDemoImage(const std::string& programDir);

// The user's data folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::string UserDataDir();

struct DemoPlace {
    bool installed = false;
    std::string image;   // the image demo mode works on
    std::string shipped; // the installed copy that seeds `image`; empty when not installed
};

DemoPlace ChooseDemoPlace(const std::string& programDir);

// When installed and the user has no image yet, makes its folder and copies the installed one
// there. Returns what went wrong, or an empty text (also when there is no installed copy: the
// demo start then reports the missing image itself).
std::string PrepareDemoImage(const DemoPlace& place);

} // namespace velmar
