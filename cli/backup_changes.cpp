#include "cli/backup_changes.h"

#include "data/backup_manifest.h"
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/journal_place.h"
#include "data/journal_record.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <tuple>

namespace velmar::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPartialSuffix = ".partial";
// A line's folder, then a run's folder: deeper manifests are not backups of this tool.
constexpr int kMaxDepth = 3;

// "2026-12-08T03:00:05+03:00" (or Z, or no zone: local) as the journal's UTC text.
std::string UtcOfManifestTime(const std::string& text) {
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6)
        return {};
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::string zone = text.substr(static_cast<size_t>(consumed));
    std::time_t t = 0;
    if (zone.empty()) {
        tm.tm_isdst = -1;
        t = std::mktime(&tm);
    } else {
        t = timegm(&tm);
        int hours = 0, minutes = 0;
        if (zone != "Z" && std::sscanf(zone.c_str() + 1, "%2d:%2d", &hours, &minutes) >= 1) {
            if (zone.find(':') == std::string::npos && zone.size() == 5) {
                hours = std::atoi(zone.substr(1, 2).c_str());
                minutes = std::atoi(zone.substr(3, 2).c_str());
            }
            const int offset = (hours * 60 + minutes) * 60;
            t -= zone[0] == '-' ? -offset : offset;
        }
    }
    std::tm utc{};
    gmtime_r(&t, &utc);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return out;
}

struct Snapshot {
    std::string time; // UTC
    std::string file;
    std::string sha256;
};

using ControllerKey = std::pair<std::string, int>; // port, number

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
            std::string time = UtcOfManifestTime(c.time);
            if (time.empty()) time = UtcOfManifestTime(manifest.created);
            found[{manifest.port, c.number}].push_back(
                {time, (e.path() / c.file).string(), c.sha256});
        }
    }
}

// The journal's entries by controller, record and field, for the look-up of each change.
using EntryKey = std::tuple<int, std::string, int, std::string>;
std::map<EntryKey, std::vector<const JournalEntry*>>
IndexEntries(const std::vector<JournalEntry>& entries) {
    std::map<EntryKey, std::vector<const JournalEntry*>> index;
    for (const JournalEntry& e : entries) {
        // A write whose outcome is unknown (a crash, a lost answer) explains the new value a
        // backup then shows: the controller took it.
        if (e.outcome != kOutcomeWritten && e.outcome != kOutcomePartial &&
            e.outcome != kOutcomeUnknown)
            continue;
        index[{e.ctrlr, e.recordKind, e.recordIndex, e.field.empty() ? e.caption : e.field}]
            .push_back(&e);
    }
    return index;
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
    for (auto& [key, snapshots] : found) {
        std::sort(snapshots.begin(), snapshots.end(),
                  [](const Snapshot& a, const Snapshot& b) { return a.time < b.time; });
        std::vector<uint8_t> before, after;
        bool haveBefore = false;
        const size_t first = scope.latestOnly && snapshots.size() > 1 ? snapshots.size() - 1 : 1;
        for (size_t i = first; i < snapshots.size(); ++i) {
            const Snapshot& a = snapshots[i - 1];
            const Snapshot& b = snapshots[i];
            if ((!scope.since.empty() && b.time < scope.since) ||
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
                               false,
                               false,
                               nullptr};
                c.metrological = IsMetrologicalField(c.recordKind, c.field);
                c.operating = IsOperatingData(c.recordKind, c.field);
                if (const auto it = index.find(
                        {c.number, c.recordKind, d.index, c.field.empty() ? c.caption : c.field});
                    it != index.end()) {
                    for (const JournalEntry* e : it->second)
                        if (e->newValue == c.newValue && e->time > a.time && e->time <= b.time)
                            c.entry = e;
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

std::string ChangeText(const BackupChange& c) {
    return "Трк №" + std::to_string(c.number) + " " + c.record + ": " + c.caption + ": " +
           c.oldValue + " -> " + c.newValue;
}

} // namespace velmar::cli
