// Summing up each line of a multi-line run for fleet.json and the terminal.
#include "cli/fleet_summary.h"

#include "cli/backup_changes.h"

#include <vector>

namespace velmar::cli::fleet {

std::string Summarise(const std::string& command, const Json& result, Json& item) {
    if (command == "backup" && result.contains("controllers")) {
        int saved = 0;
        int failed = 0;
        for (const auto& c : result.at("controllers"))
            (c.value("status", "") == "saved" ? saved : failed) += 1;
        item["saved"] = saved;
        item["failed"] = failed;
        item["folder"] = item.value("folder", "") + "/" + result.value("folder", "");
        return "сохранено контроллеров: " + std::to_string(saved) +
               ", не сохранено: " + std::to_string(failed);
    }
    if (command == "scan" && result.contains("found")) {
        item["found"] = result.at("found");
        std::string text = "найдено: " + std::to_string(result.at("found").size());
        if (result.contains("unreached")) {
            item["unreached"] = result.at("unreached");
            text += ", не опрошено: " + std::to_string(result.at("unreached").size());
        }
        return text;
    }
    if (command == "verify" && result.contains("controllers")) {
        int same = 0;
        int other = 0;
        for (const auto& c : result.at("controllers"))
            (c.value("status", "") == "same" ? same : other) += 1;
        item["same"] = same;
        item["different"] = other;
        return "совпадают с копией: " + std::to_string(same) +
               ", отличаются или не считаны: " + std::to_string(other);
    }
    return {};
}

void AddChangeCounts(const std::string& lineDir, const Fleet& fleet, Json& item) {
    std::vector<JournalEntry> entries;
    std::string error;
    if (!LoadJournals(fleet.journals, entries, error)) return;
    const ChangesReport report = FindBackupChanges(lineDir, {{}, true}, entries);
    item["changes"] = {{"recorded", report.recorded},
                       {"unrecorded", report.unrecorded},
                       {"operating", report.operating}};
}

} // namespace velmar::cli::fleet
