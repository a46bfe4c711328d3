// `changes`: what changed in each controller between its backups, and whether a journal of
// changes explains it. The backup service runs it after every backup, with --alarm: each change
// nobody recorded goes to the system log at warning priority and the unit fails.
#include "cli/backup_changes.h"
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "data/journal_place.h"
#include "data/journal_record.h"

#include <filesystem>
#include <iostream>

namespace velmar::cli {
namespace {

constexpr const char* kChangesUsage =
    "changes КАТАЛОГ [--since ДАТА] [--latest] [--alarm] [--json]  изменения между копиями\n"
    "                        и записи журнала изменений о них";
// systemd takes a line on stderr that starts so as one of warning priority.
constexpr const char* kWarningPrefix = "<4>";

std::string Period(const BackupChange& c) {
    return JournalLocalTime(c.from) + " .. " + JournalLocalTime(c.to);
}

std::string Explanation(const JournalEntry& e) {
    return "записано: " + JournalLocalTime(e.time) + " " + e.user + "@" + e.host + " " +
           (e.operation.empty() ? e.program : e.operation);
}

Json ChangeJson(const BackupChange& c) {
    Json j = {{"port", c.port},           {"number", c.number},
              {"from", c.from},           {"to", c.to},
              {"record", c.record},       {"field", c.field},
              {"caption", c.caption},     {"old", c.oldValue},
              {"new", c.newValue},        {"metrological", c.metrological},
              {"operating", c.operating}, {"recorded", c.entry != nullptr}};
    if (!c.storedOld.empty() || !c.storedNew.empty()) {
        j["stored_old"] = c.storedOld;
        j["stored_new"] = c.storedNew;
    }
    if (c.entry != nullptr)
        j["entry"] = {{"time", c.entry->time}, {"user", c.entry->user},
                      {"host", c.entry->host}, {"operation", c.entry->operation},
                      {"port", c.entry->port}, {"hash", c.entry->hash}};
    return j;
}

void PrintText(const ChangesReport& report) {
    std::string controller;
    for (const BackupChange& c : report.changes) {
        if (c.operating) continue;
        const std::string key = c.port + " Трк №" + std::to_string(c.number);
        if (key != controller) {
            std::cout << "Линия " << c.port << ", Трк №" << c.number << ":\n";
            controller = key;
        }
        std::cout << "  " << Period(c) << " " << c.record << ": " << c.caption << ": "
                  << ChangeValues(c) << (c.metrological ? " [метрологический]" : "") << " — "
                  << (c.entry != nullptr ? Explanation(*c.entry) : "НЕ ЗАПИСАНО В ЖУРНАЛ") << '\n';
    }
    if (report.operating > 0) {
        std::cout << "Рабочие данные (изменяются системой управления и контроллером):\n";
        for (const BackupChange& c : report.changes)
            if (c.operating)
                std::cout << "  " << Period(c) << " " << c.port << " " << ChangeText(c) << '\n';
    }
    std::cout << "Копий: " << report.backups
              << ". Изменений настроек: " << report.recorded + report.unrecorded
              << ", записано в журнале: " << report.recorded
              << ", не записано: " << report.unrecorded
              << ". Изменений рабочих данных: " << report.operating << '\n';
}

int Changes(Context& ctx, const std::vector<std::string>& args) {
    std::string dir;
    ChangesScope scope;
    bool json = ctx.json;
    bool alarm = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--alarm") {
            alarm = true;
        } else if (args[i] == "--latest") {
            scope.latestOnly = true;
        } else if (args[i] == "--since" && i + 1 < args.size()) {
            scope.since = JournalTimeFromUser(args[++i]);
            if (scope.since.empty()) return Fail(kExitUsage, "Неверная дата: " + args[i]);
        } else if (dir.empty() && !args[i].empty() && args[i][0] != '-') {
            dir = args[i];
        } else {
            return Fail(kExitUsage, std::string("Использование: ") + kChangesUsage);
        }
    }
    if (dir.empty()) return Fail(kExitUsage, std::string("Использование: ") + kChangesUsage);
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return Fail(kExitFile, "Нет каталога " + dir);
    std::vector<JournalEntry> entries;
    std::string error;
    if (!LoadJournals(JournalsRead(ctx.programDir, ctx.journals), entries, error))
        return Fail(kExitFile, error);
    const ChangesReport report = FindBackupChanges(dir, scope, entries);
    for (const std::string& e : report.errors) std::cerr << e << '\n';
    for (const std::string& n : report.clockNotes) std::cerr << n << '\n';
    if (alarm)
        for (const BackupChange& c : report.changes)
            if (!c.operating && c.entry == nullptr)
                std::cerr << kWarningPrefix << "Изменение не записано в журнал: линия " << c.port
                          << " " << ChangeText(c) << (c.metrological ? " [метрологический]" : "")
                          << " (" << Period(c) << ")\n";
    if (json) {
        Json list = Json::array();
        for (const BackupChange& c : report.changes) list.push_back(ChangeJson(c));
        PrintJson({{"backups", report.backups},
                   {"recorded", report.recorded},
                   {"unrecorded", report.unrecorded},
                   {"operating", report.operating},
                   {"errors", report.errors},
                   {"clock_notes", report.clockNotes},
                   {"changes", std::move(list)}});
    } else {
        PrintText(report);
    }
    if (!report.errors.empty()) return kExitFile;
    return report.unrecorded > 0 ? kExitNoAnswer : kExitOk;
}

bool Always(const std::vector<std::string>&) {
    return true;
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"changes", kChangesUsage, Changes}) && RegisterOffline("changes", Always);

} // namespace
} // namespace velmar::cli
