// The heads of the journal of changes kept outside its file: each backup's manifest records the
// journal's identity, how many entries its own chain had and the newest one's hash. A journal
// shorter than a head recorded for it, or whose entry at that place differs, was cut short,
// replaced or rebuilt after that backup.
#pragma once

#include "cli/backup_manifest.h"
#include "data/journal.h"

#include <string>
#include <vector>

namespace velmar::cli {

// The head of the journal at `path` as a backup records it; none when there is no journal there.
JournalHeadRecord ReadJournalHead(const std::string& path);

struct HeadCheck {
    int checked = 0;                   // heads recorded for this journal
    std::vector<std::string> problems; // one line per head the journal falls short of
    std::vector<std::string> errors;   // manifests that could not be read
};

// Checks `journal` against the heads recorded in the manifests under each of `dirs` (a run's
// folder, a line's backups or a fleet's): those of its own source, and those of a journal kept
// at its path (a file replaced by another journal has another source).
HeadCheck CheckJournalHeads(const Journal& journal, const std::vector<std::string>& dirs);

} // namespace velmar::cli
