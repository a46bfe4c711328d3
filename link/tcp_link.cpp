#include "link/tcp_link.h"

#include <cstdlib>
#include <cstring>

namespace velmar {

namespace {

bool HasPrefix(const char* name, const char* prefix) {
    return name != nullptr && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

} // namespace

bool IsTcpPortName(const char* name) {
    return HasPrefix(name, kTcpPortPrefix);
}

bool IsRfc2217PortName(const char* name) {
    return HasPrefix(name, kRfc2217PortPrefix);
}

bool IsNetworkPortName(const char* name) {
    return IsTcpPortName(name) || IsRfc2217PortName(name);
}

bool ParseNetworkPortName(const char* name, std::string& host, std::string& port) {
    if (!IsNetworkPortName(name)) return false;
    const std::string rest =
        name + std::strlen(IsTcpPortName(name) ? kTcpPortPrefix : kRfc2217PortPrefix);
    size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        host = rest.substr(0, colon);
        if (host.find(':') != std::string::npos) return false; // IPv6 needs its brackets
    }
    port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long number = std::strtol(port.c_str(), nullptr, 10);
    return number >= 1 && number <= 65535;
}

} // namespace velmar
