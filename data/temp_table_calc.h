// The controller's temperature table computed from a thermistor's data-sheet values: 39 ADC
// readings, one every 4 °C from -50 °C to +102 °C, for a divider read as Rn / (Rn + Rt) on a
// full scale of 1024.
#pragma once

#include "data/temp_table.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

// The kelvin offset the controller's makers use (not 273.15).
inline constexpr double kKelvinOffset = 273.0;

struct TempTableRow {
    int degrees = 0;           // row temperature, °C
    double resistanceKOhm = 0; // thermistor resistance at that temperature
    uint16_t adc = 0;          // table entry
};
using TempTableRows = std::array<TempTableRow, temp::kEntryCount>;

// What ComputeTempTable found.
enum class TempCalcResult {
    BadTemperature, // Tn + 273 <= 0
    BadInput,       // Rn not above 0, or a value not finite
    Ok,
};

inline constexpr const char* kTempCalcBadTemperatureText = "Неправильно введена температура";

// rn: nominal resistance, kΩ; b: B constant, K; tn: nominal temperature, °C.
// Rt = Rn * exp(B * (1/Tk - 1/(Tn + 273))), A = 1024 * Rn / (Rn + Rt) truncated toward zero.
// `rows` is changed only on Ok.
TempCalcResult ComputeTempTable(double rn, double b, double tn, TempTableRows& rows);
// The computed readings as the record that is written to the controller.
TempTable TempTableFromRows(const TempTableRows& rows);

// A number from one of the three model fields: an optional sign, digits with at most one
// decimal separator (comma, or a point from pasted text), at least one digit, nothing else.
bool ParseThermistorNumber(std::string_view text, double& value);

// Column texts of the table grid: the resistance in the shortest general form with a decimal
// comma, and the ADC value as "%X".
std::string FormatTempResistance(double kohm);
std::string FormatTempAdc(uint16_t adc);

} // namespace velmar
