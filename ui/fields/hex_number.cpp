#include "ui/fields/hex_number.h"

#include <cstdint>

namespace velmar::ui {

std::optional<int> ParseHexNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace()) ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    auto digit = [&text](qsizetype at) -> int {
        if (at >= text.size()) return -1;
        const char16_t c = text[at].unicode();
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    };
    if (i + 2 < n + 1 && text.mid(i, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0 &&
        digit(i + 2) >= 0)
        i += 2;
    uint32_t value = 0;
    bool any = false;
    for (int d = digit(i); d >= 0; d = digit(++i)) {
        value = value * 16u + static_cast<uint32_t>(d);
        any = true;
    }
    if (!any) return std::nullopt;
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

} // namespace velmar::ui
