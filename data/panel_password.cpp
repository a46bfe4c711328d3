#include "data/panel_password.h"

namespace velmar {

bool PanelPasswordValue(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > static_cast<size_t>(kPanelPasswordDigits)) return false;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool PanelPasswordValid(std::string_view text) {
    uint32_t value = 0;
    return text.empty() || PanelPasswordValue(text, value);
}

} // namespace velmar
