// The system's serial devices: libserialport's list when the build has it, else sysfs.
#include "link/port_discovery.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifdef VELMAR_HAVE_LIBSERIALPORT
#include <libserialport.h>
#endif

namespace velmar {
namespace {

std::string ShortName(const std::string& path) {
    constexpr std::string_view dev = "/dev/";
    if (path.compare(0, dev.size(), dev) == 0 && path.find('/', dev.size()) == std::string::npos) {
        return path.substr(dev.size());
    }
    return path;
}

// Serial ports the kernel registers without hardware behind them report type 0.
bool SysfsPortPresent(const std::string& name) {
    const std::string base = "/sys/class/tty/" + name;
    struct stat st {};
    if (stat((base + "/device").c_str(), &st) != 0) return false;
    std::FILE* f = std::fopen((base + "/type").c_str(), "r");
    if (f == nullptr) return true;
    int type = -1;
    const int n = std::fscanf(f, "%d", &type);
    std::fclose(f);
    return n != 1 || type != 0;
}

std::vector<std::string> FromSysfs() {
    std::vector<std::string> names;
    DIR* dir = opendir("/sys/class/tty");
    if (dir == nullptr) return names;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (SysfsPortPresent(name)) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<std::string> ListSystemSerialPorts() {
#ifdef VELMAR_HAVE_LIBSERIALPORT
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) == SP_OK) {
        std::vector<std::string> names;
        for (sp_port** p = ports; *p != nullptr; ++p) {
            if (const char* name = sp_get_port_name(*p)) names.push_back(ShortName(name));
        }
        sp_free_port_list(ports);
        return names;
    }
#endif
    return FromSysfs();
}

} // namespace velmar
