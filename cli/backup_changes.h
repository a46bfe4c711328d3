// What changed in each controller between its consecutive complete backups, and whether the
// journal of changes explains it. The backups are found by their manifests anywhere under the
// folder given (a line's backups, or a fleet backup with one folder per line), whatever the
// folders are named; runs still in progress (".partial") and links such as "latest" are passed
// over. A controller is its line's port and its number, as the manifests name them; a journal
// entry explains a change only when it was made on that line (its port names the same line), to
// that controller, record and field, with that new value, after the earlier backup began and
// before the later one ended. Backups are ordered by their runs' numbers, not by their clocks.
#pragma once

#include "data/journal.h"

#include <string>
#include <vector>

namespace velmar::cli {

struct BackupChange {
    std::string port;
    int number = 0;
    std::string from;       // UTC time of the backup before the change
    std::string to;         // UTC time of the backup that shows it
    std::string recordKind; // as the journal names it
    std::string record;
    std::string field;
    std::string caption;
    std::string oldValue;
    std::string newValue;
    std::string storedOld; // the stored values, where the shown ones are equal
    std::string storedNew;
    bool metrological = false;
    bool operating = false;    // operating data: listed apart, never an alarm
    const JournalEntry* entry; // the journal entry that explains it, or null
};

struct ChangesReport {
    std::vector<BackupChange> changes; // per controller, in time order
    int backups = 0;                   // complete backups read
    int recorded = 0;
    int unrecorded = 0;
    int operating = 0;
    std::vector<std::string> errors; // backups or images that could not be read
    // Backups made later than others yet marked with an earlier time: a clock was wrong.
    std::vector<std::string> clockNotes;
};

// The journals `changes` consults: the default one and every --journal.
std::vector<std::string> JournalsRead(const std::string& programDir,
                                      const std::vector<std::string>& given);

// The entries of the journals at `paths` (missing files count as empty journals); false with
// `error` when one cannot be read.
bool LoadJournals(const std::vector<std::string>& paths, std::vector<JournalEntry>& entries,
                  std::string& error);

// Which pairs of consecutive backups are compared.
struct ChangesScope {
    std::string since;       // only pairs whose later backup began at or after it (UTC text)
    bool latestOnly = false; // only each controller's newest backup against the one before
};

// Compares the backups under `dir` in `scope`. `entries` must outlive the report.
ChangesReport FindBackupChanges(const std::string& dir, const ChangesScope& scope,
                                const std::vector<JournalEntry>& entries);

// "100 -> 132", or "100 -> 100 (в памяти 200 -> 201)" where the shown values are equal.
std::string ChangeValues(const BackupChange& change);
// "Трк №1 Настройки канала 2 (...): Импульсов на литр: 200 -> 264".
std::string ChangeText(const BackupChange& change);

} // namespace velmar::cli
