#include "cli/backup_changes.h"

#include "cli/backup_manifest.h"
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/journal_place.h"
#include "data/journal_record.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <tuple>

namespace velmar::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPartialSuffix = ".partial";
// A line's folder, then a run's folder: deeper manifests are not backups of this tool.
constexpr int kMaxDepth = 3;

struct Snapshot {
    std::string time;     // UTC, as the manifest gives it
    int64_t startMs = 0;  // when the read began
    int64_t finishMs = 0; // when it ended
    int64_t sequence = 0; // the run's number in its backup directory (0: older manifest)
    std::string folder;
    std::string file;
    std::string sha256;
};

// A line's port and a controller's number on it.
using ControllerKey = std::pair<std::string, int>;

// An older manifest's time is to the second: its read is taken to span that whole second.
constexpr int64_t kSecondMs = 1000;

void CollectBackups(const std::string& dir, std::map<ControllerKey, std::vector<Snapshot>>& found,
                    ChangesReport& report) {
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec) {
        report.errors.push_back("Не удалось прочитать каталог " + dir + ": " + ec.message());
        return;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::directory_entry& e = *it;
        const std::string name = e.path().filename().string();
        const bool partial =
            name.size() > std::string(kPartialSuffix).size() && name.ends_with(kPartialSuffix);
        if (e.is_symlink(ec) || partial || it.depth() >= kMaxDepth) {
            if (e.is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (!e.is_directory(ec) || !fs::exists(e.path() / kManifestName, ec)) continue;
        BackupManifest manifest;
        std::string error;
        if (!ReadManifest(e.path().string(), manifest, error)) {
            report.errors.push_back(error);
            continue;
        }
        ++report.backups;
        for (const BackupEntry& c : manifest.controllers) {
            if (!c.saved) continue;
            Snapshot s;
            s.time = UtcOfManifestTime(c.time);
            if (s.time.empty()) s.time = UtcOfManifestTime(manifest.created);
            const int64_t second = JournalTimeMs(s.time);
            s.startMs = c.started.empty() ? second : JournalTimeMs(c.started);
            s.finishMs = c.finished.empty() ? second + kSecondMs - 1 : JournalTimeMs(c.finished);
            s.sequence = manifest.sequence;
            s.folder = e.path().string();
            s.file = (e.path() / c.file).string();
            s.sha256 = c.sha256;
            found[{LineName(manifest.port), c.number}].push_back(std::move(s));
        }
    }
}

// The journal's entries by line, controller, record and field, for the look-up of each change.
using EntryKey = std::tuple<std::string, int, std::string, int, std::string>;
std::map<EntryKey, std::vector<const JournalEntry*>>
IndexEntries(const std::vector<JournalEntry>& entries) {
    std::map<EntryKey, std::vector<const JournalEntry*>> index;
    for (const JournalEntry& e : entries) {
        // A write whose outcome is unknown (a crash, a lost answer) explains the new value a
        // backup then shows: the controller took it.
        if (e.outcome != kOutcomeWritten && e.outcome != kOutcomePartial &&
            e.outcome != kOutcomeUnknown)
            continue;
        index[{LineName(e.port), e.ctrlr, e.recordKind, e.recordIndex,
               e.field.empty() ? e.caption : e.field}]
            .push_back(&e);
    }
    return index;
}

// Backups in the order they were made: by their runs' numbers, then by time (older manifests
// carry no number and come first, in time order).
void SortSnapshots(std::vector<Snapshot>& snapshots) {
    std::stable_sort(snapshots.begin(), snapshots.end(), [](const Snapshot& a, const Snapshot& b) {
        return a.sequence != b.sequence ? a.sequence < b.sequence : a.startMs < b.startMs;
    });
}

// The earliest time a write explained by the pair (i-1, i) can carry: the start of the backup
// before. When the clock was ahead then, the latest start of an earlier backup that is not after
// the later one's; none when there is no such backup.
int64_t LowerBound(const std::vector<Snapshot>& snapshots, size_t i) {
    const Snapshot& b = snapshots[i];
    for (size_t k = i; k-- > 0;)
        if (snapshots[k].startMs <= b.startMs) return snapshots[k].startMs;
    return std::numeric_limits<int64_t>::min();
}

void NoteClocks(const std::vector<Snapshot>& snapshots, ChangesReport& report) {
    for (size_t i = 1; i < snapshots.size(); ++i) {
        const Snapshot& a = snapshots[i - 1];
        const Snapshot& b = snapshots[i];
        if (b.startMs >= a.startMs || a.sequence == 0 || b.sequence == 0) continue;
        const std::string note = "Часы расходятся: копия " + b.folder + " (№ " +
                                 std::to_string(b.sequence) + ", " + JournalLocalTime(b.time) +
                                 ") сделана после копии " + a.folder + " (№ " +
                                 std::to_string(a.sequence) + ", " + JournalLocalTime(a.time) +
                                 "), а помечена более ранним временем";
        if (std::find(report.clockNotes.begin(), report.clockNotes.end(), note) ==
            report.clockNotes.end())
            report.clockNotes.push_back(note);
    }
}

} // namespace

std::vector<std::string> JournalsRead(const std::string& programDir,
                                      const std::vector<std::string>& given) {
    std::vector<std::string> paths{DefaultJournalPath(programDir)};
    for (const std::string& p : given)
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
    return paths;
}

bool LoadJournals(const std::vector<std::string>& paths, std::vector<JournalEntry>& entries,
                  std::string& error) {
    for (const std::string& path : paths) {
        std::error_code ec;
        if (!fs::exists(path, ec)) continue;
        auto journal = Journal::OpenExisting(path, error);
        if (journal == nullptr) return false;
        auto listed = journal->List({}, error);
        if (!error.empty()) return false;
        entries.insert(entries.end(), listed.begin(), listed.end());
    }
    return true;
}

ChangesReport FindBackupChanges(const std::string& dir, const ChangesScope& scope,
                                const std::vector<JournalEntry>& entries) {
    ChangesReport report;
    std::map<ControllerKey, std::vector<Snapshot>> found;
    CollectBackups(dir, found, report);
    const auto index = IndexEntries(entries);
    const int64_t sinceMs = scope.since.empty() ? 0 : JournalTimeMs(scope.since);
    for (auto& [key, snapshots] : found) {
        SortSnapshots(snapshots);
        NoteClocks(snapshots, report);
        std::vector<uint8_t> before, after;
        bool haveBefore = false;
        const size_t first = scope.latestOnly && snapshots.size() > 1 ? snapshots.size() - 1 : 1;
        for (size_t i = first; i < snapshots.size(); ++i) {
            const Snapshot& a = snapshots[i - 1];
            const Snapshot& b = snapshots[i];
            // A pair belongs to the period when its later backup does: that one shows the change.
            if ((!scope.since.empty() && b.startMs < sinceMs) ||
                (!a.sha256.empty() && a.sha256 == b.sha256)) {
                haveBefore = false;
                continue;
            }
            std::string error;
            if (!haveBefore && LoadImageFile(a.file, before, &error) != ImageLoadResult::Loaded) {
                report.errors.push_back(a.file + ": " + error);
                continue;
            }
            if (LoadImageFile(b.file, after, &error) != ImageLoadResult::Loaded) {
                report.errors.push_back(b.file + ": " + error);
                haveBefore = false;
                continue;
            }
            // A write made before the earlier backup began is in it already; one made after the
            // later backup ended is not in it yet.
            const int64_t lower = LowerBound(snapshots, i);
            const int64_t upper = b.finishMs;
            for (const ImageDifference& d : DiffImages(before, after)) {
                BackupChange c{key.first,
                               key.second,
                               a.time,
                               b.time,
                               RecordKindName(d.kind),
                               d.record,
                               d.field,
                               d.caption,
                               d.inA ? d.a : "нет",
                               d.inB ? d.b : "нет",
                               d.storedA,
                               d.storedB,
                               false,
                               false,
                               nullptr};
                c.metrological = IsMetrologicalField(c.recordKind, c.field);
                c.operating = IsOperatingData(c.recordKind, c.field);
                if (const auto it = index.find({key.first, c.number, c.recordKind, d.index,
                                                c.field.empty() ? c.caption : c.field});
                    it != index.end()) {
                    for (const JournalEntry* e : it->second) {
                        const int64_t at = JournalTimeMs(e->time);
                        if (e->newValue == c.newValue && at >= lower && at <= upper) c.entry = e;
                    }
                }
                if (c.operating)
                    ++report.operating;
                else if (c.entry != nullptr)
                    ++report.recorded;
                else
                    ++report.unrecorded;
                report.changes.push_back(std::move(c));
            }
            before.swap(after);
            haveBefore = true;
        }
    }
    return report;
}

std::string ChangeValues(const BackupChange& c) {
    std::string text = c.oldValue + " -> " + c.newValue;
    if (!c.storedOld.empty() || !c.storedNew.empty())
        text += " (в памяти " + c.storedOld + " -> " + c.storedNew + ")";
    return text;
}

std::string ChangeText(const BackupChange& c) {
    return "Трк №" + std::to_string(c.number) + " " + c.record + ": " + c.caption + ": " +
           ChangeValues(c);
}

} // namespace velmar::cli
