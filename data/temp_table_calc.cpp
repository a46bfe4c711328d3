#include "data/temp_table_calc.h"

#include <cmath>
#include <cstdio>

namespace velmar {

TempCalcResult ComputeTempTable(double rn, double b, double tn, TempTableRows& rows) {
    if (!std::isfinite(rn) || !std::isfinite(b) || !std::isfinite(tn))
        return TempCalcResult::BadInput;
    const double tnKelvin = tn + kKelvinOffset;
    if (tnKelvin <= 0) return TempCalcResult::BadTemperature;
    // Rn = 0 would make every reading 0 / 0.
    if (!(rn > 0)) return TempCalcResult::BadInput;

    TempTableRows out{};
    for (int k = 0; k < temp::kEntryCount; ++k) {
        const int t = temp::EntryDegrees(k);
        const double tk = t + kKelvinOffset;
        const double rt = rn * std::exp(b * (1.0 / tk - 1.0 / tnKelvin));
        // rt may be +inf (reading 0) or 0 (reading 1024); never NaN for rn > 0.
        double a = 1024.0 * rn / (rn + rt);
        if (!(a >= 0)) a = 0;
        if (a > 1024.0) a = 1024.0;
        out[static_cast<size_t>(k)] = {t, rt, static_cast<uint16_t>(a)};
    }
    rows = out;
    return TempCalcResult::Ok;
}

TempTable TempTableFromRows(const TempTableRows& rows) {
    TempTable table;
    for (int k = 0; k < temp::kEntryCount; ++k) table.SetEntry(k, rows[static_cast<size_t>(k)].adc);
    return table;
}

bool ParseThermistorNumber(std::string_view text, double& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    double whole = 0;
    double fraction = 0;
    double scale = 1;
    int digits = 0;
    bool separator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digits;
            if (separator) {
                scale /= 10;
                fraction += (c - '0') * scale;
            } else {
                whole = whole * 10 + (c - '0');
            }
        } else if ((c == ',' || c == '.') && !separator) {
            separator = true;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    const double v = whole + fraction;
    if (!std::isfinite(v)) return false;
    value = negative ? -v : v;
    return true;
}

std::string FormatTempResistance(double kohm) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15G", kohm);
    std::string s(text);
    for (char& c : s) {
        if (c == '.') c = ',';
    }
    return s;
}

std::string FormatTempAdc(uint16_t adc) {
    char text[8];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(adc));
    return text;
}

} // namespace velmar
