// Where the journal of changes lives unless --journal names one: in the working directory for a
// program run from a build tree (or any folder that is not an installation), in the user's data
// folder ($XDG_DATA_HOME/velmar) for an installed one, next to the user's demo image.
#pragma once

#include <string>

namespace velmar {

inline constexpr const char* kJournalFileName = "velmar-journal.sqlite";

// The default journal for the program in `programDir`; the installed place's folder is made.
std::string DefaultJournalPath(const std::string& programDir);

} // namespace velmar
