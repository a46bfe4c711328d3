// The fiscal totaliser of every hose as the lines of the identification memo: "Адрес 1. Рукав 2.
// Фискальный сумматор = 123456,7".
#pragma once

#include "data/record_store.h"

#include <functional>
#include <string>
#include <vector>

namespace velmar {

inline constexpr const char* kFiscalReadFailedText = "Ошибка чтения фискальных сумматоров";
inline constexpr const char* kFiscalReadText = "Фискальные сумматоры считаны";
inline constexpr const char* kFiscalDemoText = "Демонстрационная версия";

// How a listing of the fiscal totalisers ended.
enum class FiscalListResult {
    ReadFailed, // a record could not be read
    Cancelled,  // `progress` stopped it
    Listed,
};

// Called after each channel with the channels read so far; false stops the listing.
using FiscalProgress = std::function<bool(int channelsDone)>;

// Reads the parameter block and the registers of every used channel (at most 16). Listed with
// one line per channel in `lines`, else ReadFailed or Cancelled (then `lines` is left empty).
FiscalListResult ReadFiscalLines(RecordStore& store, std::vector<std::string>& lines,
                                 const FiscalProgress& progress = {});

} // namespace velmar
