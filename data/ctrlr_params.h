// CtrlrParams: the controller's general configuration block (58 bytes at 0x3101, its length
// byte at 0x3100). The working area is 256 bytes: a controller may report another block length,
// and bytes beyond the usual 58 must survive a read-modify-write unchanged.
#pragma once

#include "data/record_bytes.h"

#include <array>
#include <cstdint>

namespace velmar {

namespace params {
inline constexpr Field kSpeedTrk{"SpeedTrk", 0, 1};
inline constexpr Field kSpeed2CnlTrk{"Speed2CnlTrk", 1, 1};
inline constexpr Field kAdrTrk_1{"AdrTrk_1", 2, 1};
inline constexpr Field kAdrTrk_2{"AdrTrk_2", 3, 1};
inline constexpr Field kCountNozTrk{"CountNozTrk", 4, 1};
inline constexpr Field kCountSideTrk{"CountSideTrk", 5, 1};
inline constexpr Field kAdrNaraTrk{"AdrNaraTrk", 6, 1, false, 16};
inline constexpr Field kMeterType{"MeterType", 22, 1};
inline constexpr Field kPhaseMet{"PhaseMet", 23, 1};
inline constexpr Field kSlowStart{"SlowStart", 24, 1};
inline constexpr Field kSlowLoad{"SlowLoad", 25, 1};
inline constexpr Field kNozzleFat{"NozzleFat", 26, 1};
inline constexpr Field kMetTOut{"MetTOut", 27, 1};
inline constexpr Field kImp_len{"Imp_len", 28, 1};
inline constexpr Field kNozzleWait{"NozzleWait", 29, 1};
inline constexpr Field kTrkModes{"TrkModes", 30, 2};
inline constexpr Field kTrkModes2{"TrkModes2", 32, 2};
inline constexpr Field kTypeTbl{"TypeTbl", 34, 1};
inline constexpr Field kPhysToLogTrk{"PhysToLogTrk", 35, 1, false, 16};
inline constexpr Field kTemp_heat_low{"Temp_heat_low", 51, 1, true};
inline constexpr Field kTemp_heat_high{"Temp_heat_high", 52, 1, true};
inline constexpr Field kMinSpeed{"MinSpeed", 53, 1};
inline constexpr Field kMinSpTime{"MinSpTime", 54, 1};
inline constexpr Field kHydroHit{"HydroHit", 55, 1};
inline constexpr Field kPcTimeout{"PcTimeout", 56, 1};
inline constexpr Field kKsm{"Ksm", 57, 1};

inline constexpr std::array<Field, 26> kFields{
    kSpeedTrk,       kSpeed2CnlTrk, kAdrTrk_1,     kAdrTrk_2,
    kCountNozTrk,    kCountSideTrk, kAdrNaraTrk,   kMeterType,
    kPhaseMet,       kSlowStart,    kSlowLoad,     kNozzleFat,
    kMetTOut,        kImp_len,      kNozzleWait,   kTrkModes,
    kTrkModes2,      kTypeTbl,      kPhysToLogTrk, kTemp_heat_low,
    kTemp_heat_high, kMinSpeed,     kMinSpTime,    kHydroHit,
    kPcTimeout,      kKsm};

inline constexpr int kUsualLength = 58;
inline constexpr int kAreaLength = 256; // the working copy and the shadow copy
inline constexpr int kNaraAddressCount = 16;
inline constexpr int kPhysMapCount = 16;
inline constexpr uint8_t kUnusedMapEntry = 255;
inline constexpr uint8_t kSlowStartUnscaled = 255; // SlowStart 255 is shown and entered as is
inline constexpr uint16_t kTrkModesSever = 0x8000; // bit 15: the "Север" mode
} // namespace params

// Item lists of the combo boxes; a field holds the item index.
inline constexpr std::array<const char*, 4> kSpeedTexts{"38400", "19200", "9600", "4800"};
inline constexpr std::array<uint32_t, 4> kSpeedBauds{38400, 19200, 9600, 4800};
inline constexpr std::array<const char*, 4> kMeterTypeTexts{"100 имп", "256 имп", "132 имп",
                                                            "ручное"};
inline constexpr std::array<const char*, 4> kPhaseMetTexts{"одна фаза(1)", "две фазы",
                                                           "одна фаза(2)", "ручной режим"};
inline constexpr std::array<const char*, 13> kTypeTblTexts{
    "TBL-107", "TBL-105", "TBL-202", "TBL-217", "TBL-218", "TBL-209",  "TBL-209-17",
    "МИ-21",   "Шельф",   "Tokheim", "485",     "SPI",     "Шельф LED"};

// TrkModes check list: item i stands for bit kTrkModesItemBits[i]; bit 8 has no item.
inline constexpr std::array<int, 15> kTrkModesItemBits{0, 1,  2,  3,  4,  5,  6, 7,
                                                       9, 10, 11, 12, 13, 14, 15};
inline constexpr std::array<const char*, 15> kTrkModesTexts{
    "Инверсный пистолет",
    "Старт от положения пистолета",
    "Разрешить работу БМУ",
    "2 клавиатуры БМУ на одну сторону",
    "Разрешать отпуск заданной с БМУ дозы через компьютер",
    "Строгий режим контроля двухфазного датчика",
    "Автостарт при снятии пистолета (п\\б)",
    "Делить на 10 сумму при выводе на табло с малым кол-вом индикаторов суммы",
    "Разрядность литровых сумматоров 6 знаков (для Топаза)",
    "Разрешить продолжение после повешенного пистолета",
    "Использовать ключ регулировки на колонке",
    "Округлить сумму до заданной (при задании на сумму)",
    "Резерв",
    "Использовать второй канал 485  для управления табло",
    "Режим работы \"Север\""};
// TrkModes2 check list: item i is bit i (bits 12..15 have no item).
inline constexpr std::array<const char*, 12> kTrkModes2Texts{
    "Импульсное управление ТРК",
    "Включать реле рекуперации для обогрева",
    "Вычисления объема с переливом при отпуске на сумму",
    "Разрешить рекуперацию паров",
    "Медленная приостановка на ТРК высокой производительности",
    "Управлять механическими счетчиками",
    "Использовать температурную компенсацию",
    "Не использовать модуль БП для датчиков пистолетов",
    "Управлять клапаном снижения литровой колонки",
    "Работать без клапана снижения",
    "Принимать команды по каналу 2",
    "Включение пускателей по перепаду основной фазы"};

class CtrlrParams : public RecordBytes<params::kAreaLength> {
  public:
    CtrlrParams() = default;
    // Takes `length` bytes (the block as read); the rest of the area stays 0.
    CtrlrParams(const uint8_t* bytes, int length) { Assign(bytes, length); }

    void Assign(const uint8_t* bytes, int length);

    // The block length: as last received from the controller, 58 usually. The checksum is the
    // last byte of this length.
    int Length() const { return length_; }
    void SetLength(int length);
    size_t size() const { return static_cast<size_t>(length_); }

    VELMAR_FIELD_ACCESSORS(uint8_t, SpeedTrk, params::kSpeedTrk)
    VELMAR_FIELD_ACCESSORS(uint8_t, Speed2CnlTrk, params::kSpeed2CnlTrk)
    VELMAR_FIELD_ACCESSORS(uint8_t, AdrTrk_1, params::kAdrTrk_1)
    VELMAR_FIELD_ACCESSORS(uint8_t, AdrTrk_2, params::kAdrTrk_2)
    VELMAR_FIELD_ACCESSORS(uint8_t, CountNozTrk, params::kCountNozTrk)
    VELMAR_FIELD_ACCESSORS(uint8_t, CountSideTrk, params::kCountSideTrk)
    VELMAR_ARRAY_ACCESSORS(uint8_t, AdrNaraTrk, params::kAdrNaraTrk)
    VELMAR_FIELD_ACCESSORS(uint8_t, MeterType, params::kMeterType)
    VELMAR_FIELD_ACCESSORS(uint8_t, PhaseMet, params::kPhaseMet)
    VELMAR_FIELD_ACCESSORS(uint8_t, SlowStart, params::kSlowStart)
    VELMAR_FIELD_ACCESSORS(uint8_t, SlowLoad, params::kSlowLoad)
    VELMAR_FIELD_ACCESSORS(uint8_t, NozzleFat, params::kNozzleFat)
    VELMAR_FIELD_ACCESSORS(uint8_t, MetTOut, params::kMetTOut)
    VELMAR_FIELD_ACCESSORS(uint8_t, Imp_len, params::kImp_len)
    VELMAR_FIELD_ACCESSORS(uint8_t, NozzleWait, params::kNozzleWait)
    VELMAR_FIELD_ACCESSORS(uint16_t, TrkModes, params::kTrkModes)
    VELMAR_FIELD_ACCESSORS(uint16_t, TrkModes2, params::kTrkModes2)
    VELMAR_FIELD_ACCESSORS(uint8_t, TypeTbl, params::kTypeTbl)
    VELMAR_ARRAY_ACCESSORS(uint8_t, PhysToLogTrk, params::kPhysToLogTrk)
    VELMAR_SIGNED_ACCESSORS(int8_t, Temp_heat_low, params::kTemp_heat_low)
    VELMAR_SIGNED_ACCESSORS(int8_t, Temp_heat_high, params::kTemp_heat_high)
    VELMAR_FIELD_ACCESSORS(uint8_t, MinSpeed, params::kMinSpeed)
    VELMAR_FIELD_ACCESSORS(uint8_t, MinSpTime, params::kMinSpTime)
    VELMAR_FIELD_ACCESSORS(uint8_t, HydroHit, params::kHydroHit)
    VELMAR_FIELD_ACCESSORS(uint8_t, PcTimeout, params::kPcTimeout)

    // Ksm: the last byte of the block; ChecksumRot8 over the bytes before it.
    uint8_t Ksm() const;
    uint8_t ComputeKsm() const;
    bool KsmValid() const { return Ksm() == ComputeKsm(); }
    void UpdateKsm();

    // Equal over the block length (the change test before a write).
    bool SameBlock(const CtrlrParams& other) const;

  private:
    int length_ = params::kUsualLength;
};

} // namespace velmar
