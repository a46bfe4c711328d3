#include "data/demo_place.h"

#include "base/atomic_file.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace velmar {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxDemoImage = 65534;

// The folder itself when it exists (links resolved), else its cleaned absolute form.
std::string Canonical(const std::string& dir) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(dir, ec), ec);
    if (ec) p = fs::absolute(dir, ec).lexically_normal();
    std::string s = p.generic_string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

bool IsInside(const std::string& dir, const std::string& tree) {
    return dir == tree || dir.rfind(tree + '/', 0) == 0;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

bool IsInstalledProgram(const std::string& programDir, const std::string& buildDir) {
    const std::string dir = Canonical(programDir);
    if (!buildDir.empty() && IsInside(dir, Canonical(buildDir))) return false;
    const std::string binDir = fs::path(VELMAR_INSTALL_BINDIR).lexically_normal().generic_string();
    return EndsWith(dir, '/' + binDir);
}

bool IsInstalledProgram(const std::string& programDir) {
    return IsInstalledProgram(programDir, VELMAR_BUILD_TREE);
}

std::string ShippedDemoImage(const std::string& programDir) {
    return (fs::path(Canonical(programDir)) / VELMAR_BIN_TO_DEMO_DIR / kDemoImageName)
        .lexically_normal()
        .generic_string();
}

std::string UserDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/share";
}

DemoPlace ChooseDemoPlace(const std::string& programDir) {
    DemoPlace place;
    place.installed = IsInstalledProgram(programDir);
    if (!place.installed) {
        place.image = kDemoImageName;
        return place;
    }
    place.image = UserDataDir() + "/velmar/" + kDemoImageName;
    place.shipped = ShippedDemoImage(programDir);
    return place;
}

std::string PrepareDemoImage(const DemoPlace& place) {
    std::error_code ec;
    if (!place.installed || fs::exists(place.image, ec) || !fs::exists(place.shipped, ec))
        return {};
    const fs::path folder = fs::path(place.image).parent_path();
    fs::create_directories(folder, ec);
    if (ec) return "cannot create " + folder.string();
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(place.shipped, bytes, kMaxDemoImage) != FileReadResult::Read)
        return "cannot read " + place.shipped;
    std::string error;
    if (WriteFileAtomically(place.image, bytes.data(), bytes.size(), &error) != 0)
        return place.image + ": " + error;
    return {};
}

} // namespace velmar
