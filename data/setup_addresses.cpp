#include "data/setup_addresses.h"

#include <algorithm>

namespace velmar {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One number as a "%d" conversion reads it: leading blanks, an optional sign, digits. Returns
// false when no digit follows; `pos` then is unchanged.
bool ReadNumber(std::string_view text, size_t& pos, long long& value) {
    size_t i = pos;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const size_t first = i;
    long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        // Saturate: anything this long is out of range anyway.
        if (v < 1000000) v = v * 10 + (text[i] - '0');
        ++i;
    }
    if (i == first) return false;
    value = negative ? -v : v;
    pos = i;
    return true;
}

} // namespace

AddressListParse ParseAddressList(std::string_view text, int count) {
    AddressListParse result;
    if (count <= 0) return result;
    size_t pos = 0;
    bool inRange = true;
    for (int k = 0; k < count; ++k) {
        if (k > 0) {
            if (pos >= text.size() || text[pos] != ',') return result;
            ++pos;
        }
        long long v = 0;
        if (!ReadNumber(text, pos, v)) return result;
        if (v < 1 || v > 255) inRange = false;
        result.values.push_back(static_cast<int>(std::clamp<long long>(v, -1000000, 1000000)));
    }
    if (pos != text.size()) return result;
    if (!inRange) return result;
    for (size_t i = 0; i < result.values.size(); ++i) {
        for (size_t j = i + 1; j < result.values.size(); ++j) {
            if (result.values[i] == result.values[j]) return result;
        }
    }
    result.valid = true;
    return result;
}

std::string JoinAddressList(const int* list, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ',';
        text += std::to_string(list[i]);
    }
    return text;
}

void AutoFillUtrkAdr(int sides, SideAddressList& list) {
    sides = std::clamp(sides, 1, kSetupMaxSides);
    for (int i = 0; i < sides; ++i) list[static_cast<size_t>(i)] = i + 1;
}

int AutoFillNaraAdr(int sides, int nozzles, ChannelAddressList& list) {
    sides = std::clamp(sides, 1, kSetupMaxSides);
    const int maxNozzles = kSetupMaxChannels / sides;
    nozzles = std::clamp(nozzles, 1, maxNozzles);
    const int sideBFirst = std::max(5, nozzles + 1);
    for (int s = 0; s < sides; ++s) {
        for (int j = 0; j < nozzles; ++j) {
            const int first = s == 0 ? 1 : sideBFirst;
            list[static_cast<size_t>(s * nozzles + j)] = first + j;
        }
    }
    return nozzles;
}

} // namespace velmar
