// The journal of changes on the command line: listing it, verifying its hash chain, and carrying
// entries to and from another engineer's journal.
#include "cli/cli_command.h"
#include "cli/journal_heads.h"
#include "cli/json_output.h"
#include "data/journal.h"
#include "data/journal_record.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

constexpr const char* kJournalUsage =
    "journal [verify [КАТАЛОГ...]|export ФАЙЛ|import ФАЙЛ] [--since ДАТА] [--until ДАТА]\n"
    "                        [-a N] [--field ТЕКСТ] [--last N] [--json]  журнал изменений";

int Usage() {
    return Fail(kExitUsage, std::string("Использование: ") + kJournalUsage);
}

// Parses the filter options; false (usage reported) on a bad one.
bool ParseFilter(const std::vector<std::string>& args, size_t from, JournalFilter& filter,
                 bool& json) {
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--json") {
            json = true;
        } else if (a == "--since" || a == "--until") {
            if (!next(v)) return Usage(), false;
            const std::string t = JournalTimeFromUser(v);
            if (t.empty()) return Fail(kExitUsage, "Неверная дата: " + v), false;
            (a == "--since" ? filter.since : filter.until) = t;
        } else if (a == "-a" || a == "--address") {
            if (!next(v)) return Usage(), false;
            filter.ctrlr = std::atoi(v.c_str());
            if (filter.ctrlr < 1 || filter.ctrlr > 255)
                return Fail(kExitUsage, "Неверный номер контроллера: " + v), false;
        } else if (a == "--field") {
            if (!next(filter.field)) return Usage(), false;
        } else if (a == "--last") {
            if (!next(v)) return Usage(), false;
            filter.last = std::atoi(v.c_str());
            if (filter.last < 1) return Fail(kExitUsage, "Неверное число записей: " + v), false;
        } else {
            return Usage(), false;
        }
    }
    return true;
}

Json EntryJson(const JournalEntry& e) {
    Json j;
    j["id"] = e.id;
    j["time"] = e.time;
    j["user"] = e.user;
    j["host"] = e.host;
    j["program"] = e.program;
    j["operation"] = e.operation;
    j["port"] = e.port;
    j["controller"] = e.ctrlr;
    j["ident"] = e.ident;
    j["record_kind"] = e.recordKind;
    j["record_index"] = e.recordIndex;
    j["record"] = e.record;
    j["field"] = e.field;
    j["caption"] = e.caption;
    j["old"] = e.oldValue;
    j["new"] = e.newValue;
    j["outcome"] = e.outcome;
    j["pending"] = e.outcome == kOutcomeUnknown;
    j["metrological"] = IsMetrologicalField(e.recordKind, e.field);
    j["origin"] = e.origin;
    j["hash"] = e.hash;
    return j;
}

// "anna@pc": where entries made in this journal come from, for an export or an import.
std::string LocalOrigin() {
    const JournalOrigin o = CurrentJournalOrigin("velmar-cli");
    return o.user + "@" + o.host;
}

// The chains of each source, then the heads the backups under `backups` recorded of it.
int Verify(const velmar::Journal& journal, const std::vector<std::string>& backups) {
    std::string why;
    const int64_t broken = journal.Verify(why);
    if (broken < 0) return Fail(kExitFile, why);
    if (broken > 0) return Fail(kExitNoAnswer, "Журнал изменений нарушен: " + why);
    if (!backups.empty()) {
        const HeadCheck check = CheckJournalHeads(journal, backups);
        for (const std::string& e : check.errors) std::cerr << e << '\n';
        for (const std::string& p : check.problems)
            std::cerr << "Журнал изменений нарушен: " << p << '\n';
        if (!check.problems.empty()) return kExitNoAnswer;
        if (!check.errors.empty()) return kExitFile;
        std::cout << "Сверено с копиями: " << check.checked << '\n';
    }
    std::cout << (journal.IsExport() ? "Выгрузка журнала изменений цела\n"
                                     : "Журнал изменений цел\n");
    // Writes entered before they went on the line whose outcome never came (a crash, a lost
    // answer): named, to be settled by the next read of their record.
    std::string error;
    const std::vector<JournalWrite> open = journal.Unresolved(error);
    if (!error.empty()) return Fail(kExitFile, error);
    if (!open.empty())
        std::cout << "Записей с неизвестным исходом: " << open.size()
                  << " (исход определится при следующем чтении записи контроллера)\n";
    for (const JournalWrite& w : open)
        std::cout << "  Трк №" << w.ctrlr << (w.port.empty() ? "" : " " + w.port)
                  << ", записи журнала " << w.firstEntry
                  << (w.lastEntry != w.firstEntry ? "–" + std::to_string(w.lastEntry) : "")
                  << ": исход " << kOutcomeUnknown << '\n';
    return kExitOk;
}

int Journal(Context& ctx, const std::vector<std::string>& args) {
    const std::string action = !args.empty() && args[0].rfind("-", 0) != 0 ? args[0] : "";
    size_t from = action.empty() ? 0 : 1;
    std::string file;
    std::vector<std::string> backups; // verify: folders whose manifests hold heads of the journal
    if (action == "export" || action == "import") {
        if (args.size() < 2 || args[1].empty()) return Usage();
        file = args[1];
        from = 2;
    } else if (action == "verify") {
        while (from < args.size() && !args[from].empty() && args[from][0] != '-')
            backups.push_back(args[from++]);
    } else if (!action.empty()) {
        return Usage();
    }
    JournalFilter filter;
    bool json = ctx.json;
    if (!ParseFilter(args, from, filter, json)) return kExitUsage;

    const std::string path = JournalPath(ctx);
    std::string error;
    if (action == "import") {
        const std::unique_ptr<velmar::Journal> journal = velmar::Journal::Open(path, error);
        if (journal == nullptr) return Fail(kExitFile, error);
        const int added =
            journal->Import(file, std::filesystem::path(file).filename().string(), error);
        if (added < 0) return Fail(kExitNoAnswer, error);
        std::cout << "Добавлено записей: " << added << '\n';
        return kExitOk;
    }
    if (!std::filesystem::exists(path)) return Fail(kExitFile, "Нет журнала изменений " + path);
    const std::unique_ptr<velmar::Journal> journal = velmar::Journal::OpenExisting(path, error);
    if (journal == nullptr) return Fail(kExitFile, error);
    if (action == "verify") return Verify(*journal, backups);
    if (action == "export") {
        size_t written = 0;
        if (!journal->ExportChains(filter, LocalOrigin(), file, written, error))
            return Fail(error.find("нарушен") != std::string::npos ? kExitNoAnswer : kExitFile,
                        error);
        std::cout << "Записей выгружено: " << written << '\n';
        return kExitOk;
    }
    const std::vector<JournalEntry> entries = journal->List(filter, error);
    if (!error.empty()) return Fail(kExitFile, error);
    if (json) {
        Json list = Json::array();
        for (const JournalEntry& e : entries) list.push_back(EntryJson(e));
        PrintJson(list);
        return kExitOk;
    }
    for (const JournalEntry& e : entries) std::cout << JournalLine(e) << '\n';
    return kExitOk;
}

bool Always(const std::vector<std::string>&) {
    return true;
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"journal", kJournalUsage, Journal}) && RegisterOffline("journal", Always);

} // namespace
} // namespace velmar::cli
