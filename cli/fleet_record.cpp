#include "cli/fleet_record.h"

#include "base/atomic_file.h"
#include "data/backup_run_folders.h"

#include <cerrno>
#include <cstring>

namespace velmar::cli::fleet {

namespace {

constexpr size_t kRecordMaxBytes = 16 << 20;

// Whether line `a` of the record supersedes line `b` of the same port.
bool Supersedes(const Json& a, const Json& b) {
    const std::string endA = a.value("finished", "");
    const std::string endB = b.value("finished", "");
    if (endA != endB) return endA > endB;
    return a.value("status", "") == "ok" && b.value("status", "") != "ok";
}

} // namespace

void MergeFleetRecord(Json& doc, const Json& before) {
    if (!before.is_object() || !before.contains("lines") || !before.at("lines").is_array()) return;
    Json& lines = doc["lines"];
    for (const Json& old : before.at("lines")) {
        if (!old.is_object() || !old.contains("port")) continue;
        bool taken = false;
        for (Json& mine : lines) {
            if (mine.value("port", "") != old.value("port", "")) continue;
            taken = true;
            if (Supersedes(old, mine)) mine = old;
        }
        if (!taken) lines.push_back(old);
    }
    bool complete = true;
    for (const Json& line : lines) complete = complete && line.value("status", "") == "ok";
    doc["complete"] = complete;
}

bool WriteFleetRecord(const std::string& top, Json doc, std::string& why) {
    // Held from reading the record to replacing it: a run ending meanwhile waits its turn.
    const DirLock lock(top);
    if (!lock.Held()) {
        why = std::strerror(errno);
        return false;
    }
    const std::string path = top + "/" + kFleetName;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, kRecordMaxBytes) == FileReadResult::Read)
        MergeFleetRecord(doc, Json::parse(bytes.begin(), bytes.end(), nullptr, false));
    const std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    return WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                               &why) == 0;
}

} // namespace velmar::cli::fleet
