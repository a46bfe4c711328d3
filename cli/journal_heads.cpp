#include "cli/journal_heads.h"

#include "cli/backup_run_folders.h"

#include <filesystem>

namespace velmar::cli {

namespace {

namespace fs = std::filesystem;

// A line's folder, then a run's folder: deeper manifests are not backups of this tool.
constexpr int kMaxDepth = 3;
constexpr size_t kShownHashDigits = 16;

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

void CheckOne(const Journal& journal, const std::string& dir, const BackupManifest& m,
              HeadCheck& check) {
    const JournalHeadRecord& head = m.journal;
    if (!head.Present()) return;
    const bool ours = head.source == journal.Source() ||
                      (!head.path.empty() && Canonical(head.path) == Canonical(journal.Path()));
    if (!ours) return;
    ++check.checked;
    if (head.entries == 0) return;
    int64_t held = 0;
    const std::string hash = journal.HashAt(head.source, head.entries, held);
    if (held < head.entries) {
        check.problems.push_back("журнал изменений короче, чем при копии " + dir + ": в копии " +
                                 std::to_string(head.entries) + " записей источника " +
                                 head.source + " (" + head.host + "), в журнале " +
                                 std::to_string(held) +
                                 " (последние записи удалены или файл подменен)");
    } else if (hash != head.head) {
        check.problems.push_back("запись " + std::to_string(head.entries) + " источника " +
                                 head.source + " отличается от записанной в копии " + dir + " (" +
                                 head.head.substr(0, kShownHashDigits) +
                                 "...): журнал изменен или его цепочка пересчитана");
    }
}

} // namespace

JournalHeadRecord ReadJournalHead(const std::string& path) {
    JournalHeadRecord record;
    std::error_code ec;
    if (!fs::exists(path, ec)) return record;
    std::string error;
    // Opened for writing: a journal of the time before sources is given its identity here.
    const auto journal = Journal::Open(path, error);
    if (journal == nullptr || journal->IsExport()) return record;
    const JournalHead head = journal->Head();
    record.path = Canonical(path);
    record.source = head.source;
    record.host = head.host;
    record.entries = head.entries;
    record.head = head.hash;
    return record;
}

HeadCheck CheckJournalHeads(const Journal& journal, const std::vector<std::string>& dirs) {
    HeadCheck check;
    for (const std::string& dir : dirs) {
        std::error_code ec;
        std::vector<fs::path> runs;
        if (fs::exists(fs::path(dir) / kManifestName, ec)) runs.emplace_back(dir);
        fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            check.errors.push_back("Не удалось прочитать каталог " + dir + ": " + ec.message());
            continue;
        }
        for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) break;
            const fs::directory_entry& e = *it;
            const std::string name = e.path().filename().string();
            if (e.is_symlink(ec) || name.ends_with(kPartialSuffix) || it.depth() >= kMaxDepth) {
                if (e.is_directory(ec)) it.disable_recursion_pending();
                continue;
            }
            if (e.is_directory(ec) && fs::exists(e.path() / kManifestName, ec))
                runs.push_back(e.path());
        }
        for (const fs::path& run : runs) {
            BackupManifest manifest;
            std::string error;
            if (!ReadManifest(run.string(), manifest, error)) {
                check.errors.push_back(error);
                continue;
            }
            CheckOne(journal, run.string(), manifest, check);
        }
    }
    return check;
}

} // namespace velmar::cli
