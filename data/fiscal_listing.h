// The fiscal totaliser of every hose as the lines of the identification memo: "Адрес 1. Рукав 2.
// Фискальный сумматор = 123456,7".
#pragma once

#include "data/record_store.h"

#include <string>
#include <vector>

namespace velmar {

inline constexpr const char* kFiscalReadFailedText = "Ошибка чтения фискальных сумматоров";
inline constexpr const char* kFiscalReadText = "Фискальные сумматоры считаны";
inline constexpr const char* kFiscalDemoText = "Демонстрационная версия";

// Reads the parameter block and the registers of every used channel (at most 16). Returns 1 with
// one line per channel in `lines`, or -1 when any read failed (then `lines` is left empty).
int ReadFiscalLines(RecordStore& store, std::vector<std::string>& lines);

} // namespace velmar
