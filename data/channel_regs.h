// ChannelRegs: the run-time registers of one channel (69 bytes at 0x2000 + n * 0x100). Bytes 0,
// 34..35 and 67..68 are not interpreted and travel back as read.
#pragma once

#include "data/record_bytes.h"

#include <array>
#include <cstdint>

namespace velmar {

namespace regs {
inline constexpr int kLength = 69;
inline constexpr Field kByte0{"Byte0", 0, 1};
inline constexpr Field kState{"State", 1, 1};
inline constexpr Field kBitStat{"BitStat", 2, 2};
inline constexpr Field kSetVol{"SetVol", 4, 4};
inline constexpr Field kSetSum{"SetSum", 8, 4};
inline constexpr Field kLoadVol{"LoadVol", 12, 4};
inline constexpr Field kLoadVolLo{"LoadVolLo", 16, 4};
inline constexpr Field kKVol{"KVol", 20, 4};
inline constexpr Field kKVolLo{"KVolLo", 24, 4};
inline constexpr Field kLastVol{"LastVol", 28, 4};
inline constexpr Field kPrice{"Price", 32, 2};
inline constexpr Field kBytes34{"Bytes34", 34, 2};
inline constexpr Field kVolStart{"VolStart", 36, 2};
inline constexpr Field kVolEnd{"VolEnd", 38, 4};
inline constexpr Field kDCount{"DCount", 42, 4};
inline constexpr Field kFCount{"FCount", 46, 4};
inline constexpr Field kFCMil{"FCMil", 50, 1};
inline constexpr Field kLCount{"LCount", 51, 4};
inline constexpr Field kSCount{"SCount", 55, 4};
inline constexpr Field kBCount{"BCount", 59, 4};
inline constexpr Field kMCount{"MCount", 63, 4};
inline constexpr Field kBytes67{"Bytes67", 67, 2};

inline constexpr std::array<Field, 22> kFields{
    kByte0,  kState,   kBitStat, kSetVol,  kSetSum,   kLoadVol, kLoadVolLo, kKVol,
    kKVolLo, kLastVol, kPrice,   kBytes34, kVolStart, kVolEnd,  kDCount,    kFCount,
    kFCMil,  kLCount,  kSCount,  kBCount,  kMCount,   kBytes67};

inline constexpr uint16_t kBitStatUnreadable = 0xFFFF;

// State list: codes 0..15 are items 0..15, codes 43..46 are items 16..19.
inline constexpr std::array<const char*, 20> kStateTexts{
    "Канал свободен",
    "Канал свободен - перелив",
    "Доза задана, ожидание",
    "Тест табло",
    "Старт на доливе",
    "Отпуск",
    "Конец отпуска на доливе",
    "Приостановлено оператором",
    "Остановлено клиентом",
    "Таймаут крыльчатки",
    "Приостановлено, таймаут связи с ПК",
    "Переполнение табло",
    "Ошибка связи с платой расширения",
    "Пропала фаза датчика на старте",
    "Пропала фаза питания клапанов",
    "Производительность отпуска меньше минимальной",
    "Приостановлено, авария питания",
    "Нормальное завершение",
    "Завершение с переливом",
    "Продолжение на повешенный пистолет - ожидание"};
// Item index of a state code, -1 for a code without an item.
constexpr int StateItem(int code) {
    if (code >= 0 && code < 16) return code;
    if (code >= 43 && code <= 46) return code - 27;
    return -1;
}
constexpr int StateCode(int item) {
    return item < 16 ? item : item + 27;
}

// Status bit check list: item i shows bit kBitStatItemBits[i] (items 6 and 7 share bit 2).
inline constexpr std::array<int, 10> kBitStatItemBits{3, 7, 8, 9, 12, 11, 2, 2, 13, 14};
inline constexpr std::array<const char*, 10> kBitStatTexts{
    "Пистолет снят",
    "Канал активирован",
    "Отпуск был приостановлен - можно продолжать",
    "Управляется БМУ",
    "Дoза задана по протоколу НАРА", // second letter a Latin o, as the controller's makers wrote it
    "Идет отпуск в мерник",
    "Ошибка питания",
    "Авария датчика (нет фазы)",
    "Доза продолжается",
    "Отображать отпуск \"Полный Бак\""};
} // namespace regs

class ChannelRegs : public RecordBytes<regs::kLength> {
  public:
    using RecordBytes::RecordBytes;

    VELMAR_FIELD_ACCESSORS(uint8_t, State, regs::kState)
    VELMAR_FIELD_ACCESSORS(uint16_t, BitStat, regs::kBitStat)
    VELMAR_FIELD_ACCESSORS(uint32_t, SetVol, regs::kSetVol)
    VELMAR_FIELD_ACCESSORS(uint32_t, SetSum, regs::kSetSum)
    VELMAR_FIELD_ACCESSORS(uint32_t, LoadVol, regs::kLoadVol)
    VELMAR_FIELD_ACCESSORS(uint32_t, LoadVolLo, regs::kLoadVolLo)
    VELMAR_FIELD_ACCESSORS(uint32_t, KVol, regs::kKVol)
    VELMAR_FIELD_ACCESSORS(uint32_t, KVolLo, regs::kKVolLo)
    VELMAR_FIELD_ACCESSORS(uint32_t, LastVol, regs::kLastVol)
    VELMAR_FIELD_ACCESSORS(uint16_t, Price, regs::kPrice)
    VELMAR_FIELD_ACCESSORS(uint16_t, VolStart, regs::kVolStart)
    VELMAR_FIELD_ACCESSORS(uint32_t, VolEnd, regs::kVolEnd)
    VELMAR_FIELD_ACCESSORS(uint32_t, DCount, regs::kDCount)
    VELMAR_FIELD_ACCESSORS(uint32_t, FCount, regs::kFCount)
    VELMAR_FIELD_ACCESSORS(uint8_t, FCMil, regs::kFCMil)
    VELMAR_FIELD_ACCESSORS(uint32_t, LCount, regs::kLCount)
    VELMAR_FIELD_ACCESSORS(uint32_t, SCount, regs::kSCount)
    VELMAR_FIELD_ACCESSORS(uint32_t, BCount, regs::kBCount)
    VELMAR_FIELD_ACCESSORS(uint32_t, MCount, regs::kMCount)
};

} // namespace velmar
