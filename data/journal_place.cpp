#include "data/journal_place.h"

#include "data/demo_place.h"

#include <filesystem>

namespace velmar {

std::string DefaultJournalPath(const std::string& programDir) {
    if (!IsInstalledProgram(programDir)) return kJournalFileName;
    const std::filesystem::path dir = std::filesystem::path(UserDataDir()) / "velmar";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return (dir / kJournalFileName).string();
}

} // namespace velmar
