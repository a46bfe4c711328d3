#include "data/field_catalogue.h"

#include "data/field_bindings.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace velmar {

namespace {

using VF = ValueFormat;

constexpr FieldBinding kPlain{};
constexpr FieldBinding kHex4{{}, EntryKind::Hex, 0xFFFF, 1, DisplayKind::Hex4};
constexpr FieldBinding kHexByte{{}, EntryKind::Hex, 0xFF, 1, DisplayKind::HexPairs};

// The sizes header has no screen; its bytes are named after what they size.
const CatalogueField kSizesFields[] = {
    {{"ParamsLength", 0, 1}, "Длина параметров контроллера"},
    {{"NozzlesPerSide", 1, 1}, "Пистолетов на сторону"},
    {{"Sides", 2, 1}, "Количество Сторон"},
    {{"SettsLength", 3, 1}, "Длина настроек канала"},
    {{"OptionalLength", 4, 1}, "Длина дополнительного блока"},
    {{"RegsLength", 5, 1}, "Длина состояния канала"},
    {{"SideStateLength", 6, 1}, "Длина состояния стороны"},
};

// "Настройки контроллера" and, from t вкл обогрева on, "Доп настройки".
const CatalogueField kParamsFields[] = {
    {params::kSpeedTrk, "Скорость обмена по 485 интерфейсу, 1 канал", VF::Item, kPlain,
     kSpeedTexts},
    {params::kSpeed2CnlTrk, "Скорость обмена по 485 интерфейсу, 2 канал", VF::Item, kPlain,
     kSpeedTexts},
    {params::kAdrTrk_1, "Сторона A, Адрес стороны", VF::Binding, bind::eAdrTrk_1},
    {params::kAdrTrk_2, "Сторона Б, Адрес стороны", VF::Binding, bind::eAdrTrk_2},
    {params::kCountNozTrk, "Пистолетов на сторону"},
    {params::kCountSideTrk, "Количество Сторон"},
    {params::kAdrNaraTrk, "Адреса каналов Нара"},
    {params::kMeterType, "Тип датчика", VF::Item, kPlain, kMeterTypeTexts},
    {params::kPhaseMet, "Фазы датчика", VF::Item, kPlain, kPhaseMetTexts},
    {params::kSlowStart, "Доза в начале, мл", VF::Binding, bind::eSlowStart},
    {params::kSlowLoad, "Доза в конце, мл", VF::Binding, bind::eSlowLoad},
    {params::kNozzleFat, "Раздутие шланга, мл", VF::Binding, bind::eNozzleFat},
    {params::kMetTOut, "Ожидание импульсов, с", VF::Binding, bind::eMetTOut},
    {params::kImp_len, "Длительность импульса", VF::Binding, bind::eImp_len},
    {params::kNozzleWait, "Пауза пуска, с", VF::Binding, bind::eNozzleWait},
    {params::kTrkModes, "Битовая маска режимов MD_XXXX", VF::Binding, bind::eBitMaskHex},
    {params::kTrkModes2, "Режимы работы ТРК 2", VF::Binding, kHex4, kTrkModes2Texts, Split::Bits},
    {params::kTypeTbl, "Тип табло", VF::Item, kPlain, kTypeTblTexts},
    {params::kPhysToLogTrk, "Физическая архитектура", VF::Binding, kPlain, {}, Split::SideMap},
    {params::kTemp_heat_low, "t вкл обогрева", VF::Binding, bind::eTemp_heat_low},
    {params::kTemp_heat_high, "t выкл обогрева", VF::Binding, bind::eTemp_heat_high},
    {params::kMinSpeed, "Мин производительность", VF::Binding, bind::eMinSpeed},
    {params::kMinSpTime, "Время работы с мин производительностью", VF::Binding, bind::eMinSpTime},
    {params::kHydroHit, "Ограничение гидроудара", VF::Binding, bind::eHydroHit},
    {params::kPcTimeout, "Таймаут потери связи с СУ", VF::Binding, bind::ePcTimeout},
    // The checksum is the block's last byte whatever its length: a comparison finds it there
    // (image_diff.cpp); its place in the usual block is named here.
    {params::kKsm, "КСМ", VF::Binding, kHexByte},
};

// "Настройки канала".
const CatalogueField kSettsFields[] = {
    {setts::kImpWLo, "Младшие 32 бита цены импульса в 0.01", VF::Binding, bind::eImpWLo},
    {setts::kImpWHi, "Старший 1 бит цены импульса", VF::Binding, bind::eImpWHi},
    {setts::kImpWkLo, "K * L", VF::Binding, bind::eImpWkLo},
    {setts::kImpWkHi, "Старший бит K*L", VF::Binding, bind::eImpWkHi},
    {setts::kImpWkWLo, "wk-w", VF::Binding, bind::eImpWkWLo},
    {setts::kImpLit, "Импульсов на литр", VF::Binding, bind::eImpLit},
    {setts::kMeterPhase, "Фазы датчика", VF::Item, kPlain, setts::kPhaseTexts},
    {setts::kCountKor, "Количество юстировок", VF::Binding, bind::eCountKor},
};

// "Сост канала"; bytes 0, 34..35 and 67..68 are not shown.
const CatalogueField kRegsFields[] = {
    {regs::kState, "Состояние", VF::State},
    {regs::kBitStat, "Битовый статус (hex)", VF::Binding, bind::eBitStatHex},
    {regs::kSetVol, "Заданная доза, л", VF::Binding, bind::eSetVol},
    {regs::kSetSum, "Заданная сумма, руб", VF::Binding, bind::eSetSum},
    {regs::kLoadVol, "Отпущенная доза, л", VF::Binding, bind::eLoadVol},
    {regs::kLoadVolLo, "Отпущено, мл (hex)", VF::Binding, bind::eLoadVolLo},
    {regs::kKVol, "Недолив, л", VF::Binding, bind::eKVol},
    {regs::kKVolLo, "Недолив, мл (hex)", VF::Binding, bind::eKVolLo},
    {regs::kLastVol, "Последняя доза, л", VF::Binding, bind::eLastVol},
    {regs::kPrice, "Цена, руб", VF::Binding, bind::ePrice},
    {regs::kVolStart, "Малый расход в начале, мл", VF::Binding, bind::eVolStart},
    {regs::kVolEnd, "Малый расход в конце, мл", VF::Binding, bind::eVolEnd},
    {regs::kDCount, "Дельта-счетчик, л", VF::Binding, bind::eDCount},
    {regs::kFCount, "Фискальный счетчик", VF::Binding, bind::eFCount},
    {regs::kFCMil, "Фискальный счетчик, дробная часть", VF::Binding, bind::eFCMil},
    {regs::kLCount, "Заданные в литрах, л", VF::Binding, bind::eLCount},
    {regs::kSCount, "Заданные в деньгах, л", VF::Binding, bind::eSCount},
    {regs::kBCount, "С клавиатуры БМУ, л", VF::Binding, bind::eBCount},
    {regs::kMCount, "В мерник, л", VF::Binding, bind::eMCount},
};

// "Настройка стороны"; bytes 10..11 are not shown.
const CatalogueField kSideFields[] = {
    {side::kActiveNoz, "Номер выбранного пистолета", VF::Binding, bind::eActiveNoz},
    {side::kCountKor, "Счетчик количества корректировок", VF::Binding, bind::eCountKor_s},
    {{"DateLastKor", 3, 1, false, 3},
     "Дата последней корректировки",
     VF::Date,
     kPlain,
     {},
     Split::Whole},
    {side::kCountTranz, "Счетчик транзакций", VF::Binding, bind::eCountTranz_s},
};

// "Доп настройки", group "Настройки НАРА-АЗС" with "Пароли БМУ".
const CatalogueField kMakeFields[] = {
    {make::kShimDuration, "Длительность ШИМ, мс.", VF::Binding, bind::eShimDuration},
    {make::kMinVolNara, "Мин доза отпуска", VF::Binding, bind::eMinVolNara},
    {make::kStWaitForceNara, "Пауза перед принудительным пуском", VF::Binding,
     bind::eStWaitForceNara},
    {make::kStopTimeNara, "Время ожидания остановки насоса", VF::Binding, bind::eStopTimeNara},
    {make::kUpgrCountNara, "Количество перепрошивок", VF::Binding, bind::eUpgrCountNara},
    {make::kPbTimeoutNara, "Таймаут импульсов в режиме ПБ", VF::Binding, bind::ePbTimeoutNara},
    {make::kBmuPUser, "Пароль заправщика"},
    {make::kBmuPAdm, "Пароль администратора", VF::Binding, bind::eBmuPAdm},
};

// "Сторона Б, Физическая архитектура, позиция 0": byte k of the map belongs to side A (even k)
// or B (odd k) at position k / 2, the number the grid's header shows; with one side of two
// hoses the first two bytes are side A's positions 0 and 1.
std::string SideMapCaption(const char* caption, int k, CatalogueTopology t) {
    const bool oneSideTwoHoses = t.sides == 1 && t.nozzlesPerSide == 2 && k < 2;
    const bool sideA = oneSideTwoHoses || k % 2 == 0;
    const int position = oneSideTwoHoses ? k : k / 2;
    return std::string(sideA ? "Сторона A, " : "Сторона Б, ") + caption + ", позиция " +
           std::to_string(position);
}

// "биты 12..15" (or "бит 12"): the bits of `all` without an item in the list.
std::string UnlistedBits(uint32_t listed, uint32_t all) {
    int first = -1, last = -1;
    for (int bit = 0; bit < 32; ++bit) {
        if (((all & ~listed) >> bit & 1U) == 0) continue;
        if (first < 0) first = bit;
        last = bit;
    }
    return first == last ? "бит " + std::to_string(first)
                         : "биты " + std::to_string(first) + ".." + std::to_string(last);
}

std::string Items(std::span<const char* const> items, uint32_t v) {
    return v < items.size() ? items[v] : std::to_string(v);
}

} // namespace

std::span<const CatalogueField> FieldCatalogue(RecordKind kind) {
    switch (kind) {
    case RecordKind::Sizes:
        return kSizesFields;
    case RecordKind::Params:
        return kParamsFields;
    case RecordKind::ChannelSetts:
        return kSettsFields;
    case RecordKind::ChannelRegs:
        return kRegsFields;
    case RecordKind::SideState:
        return kSideFields;
    case RecordKind::MakeBlock:
        return kMakeFields;
    default:
        return {};
    }
}

std::vector<CatalogueItem> CatalogueItems(RecordKind kind, CatalogueTopology topology) {
    std::vector<CatalogueItem> items;
    for (const CatalogueField& f : FieldCatalogue(kind)) {
        switch (f.split) {
        case Split::Bits: {
            const int width = f.End() - f.field.offset;
            uint32_t listed = 0;
            for (size_t bit = 0; bit < f.items.size(); ++bit) {
                const uint32_t mask = 1U << bit;
                listed |= mask;
                items.push_back({&f, static_cast<int>(bit), f.field.offset, width,
                                 std::string(f.caption) + ": " + f.items[bit], mask});
            }
            const uint32_t all = width >= 4 ? 0xFFFFFFFFU : (1U << (8 * width)) - 1;
            if ((all & ~listed) != 0)
                items.push_back({&f, static_cast<int>(f.items.size()), f.field.offset, width,
                                 std::string(f.caption) + ": " + UnlistedBits(listed, all),
                                 all & ~listed});
            continue;
        }
        case Split::SideMap:
            for (int k = 0; k < f.field.count; ++k)
                items.push_back({&f, k, f.field.ElementOffset(k), f.field.width,
                                 SideMapCaption(f.caption, k, topology)});
            continue;
        case Split::Whole:
            break;
        case Split::Elements:
            if (f.field.count == 1) break;
            for (int k = 0; k < f.field.count; ++k)
                items.push_back({&f, k, f.field.ElementOffset(k), f.field.width,
                                 std::string(f.caption) + " №" + std::to_string(k + 1)});
            continue;
        }
        items.push_back({&f, -1, f.field.offset, f.End() - f.field.offset, f.caption});
    }
    return items;
}

bool SameCatalogueValue(const CatalogueItem& item, const uint8_t* a, const uint8_t* b) {
    if (item.mask == 0)
        return std::memcmp(a + item.offset, b + item.offset, static_cast<size_t>(item.width)) == 0;
    return (GetLE(a + item.offset, item.width) & item.mask) ==
           (GetLE(b + item.offset, item.width) & item.mask);
}

std::string FormatCatalogueValue(const CatalogueItem& item, const uint8_t* record, size_t size) {
    if (static_cast<size_t>(item.offset + item.width) > size) return {};
    const CatalogueField& f = *item.field;
    const uint8_t* at = record + item.offset;
    if (item.mask != 0) {
        // A bit of a check list is checked or not; the bits without an item show in hex.
        const uint32_t v = GetLE(at, item.width) & item.mask;
        if (std::has_single_bit(item.mask)) return v != 0 ? "вкл" : "выкл";
        char text[16];
        std::snprintf(text, sizeof text, "%04X", v);
        return text;
    }
    switch (f.format) {
    case ValueFormat::Item:
        return Items(f.items, GetLE(at, item.width));
    case ValueFormat::State: {
        const uint32_t code = GetLE(at, item.width);
        const int i = regs::StateItem(static_cast<int>(code));
        return i < 0 ? std::to_string(code) : regs::kStateTexts[static_cast<size_t>(i)];
    }
    case ValueFormat::Date: {
        char text[16];
        std::snprintf(text, sizeof text, "%02d.%02d.%02d", at[0], at[1], at[2]);
        return text;
    }
    case ValueFormat::Binding:
        break;
    }
    FieldBinding b = f.binding;
    b.field = Field{f.field.name, item.offset, item.width, f.field.isSigned};
    return FormatEntry(b, record, size);
}

std::string RecordTitle(RecordKind kind, int index, int sides, int nozzlesPerSide) {
    auto channel = [&](const char* what) {
        std::string title = std::string(what) + " " + std::to_string(index + 1);
        const auto hoses = ChannelListTexts(sides, nozzlesPerSide);
        if (index >= 0 && static_cast<size_t>(index) < hoses.size())
            title += " (" + hoses[static_cast<size_t>(index)] + ")";
        return title;
    };
    char address[8];
    switch (kind) {
    case RecordKind::Sizes:
        return "Заголовок образа";
    case RecordKind::Params:
        return "Параметры контроллера";
    case RecordKind::ChannelSetts:
        return channel("Настройки канала");
    case RecordKind::ChannelRegs:
        return channel("Состояние канала");
    case RecordKind::SideState:
        return index == 0 ? "Состояние стороны А" : "Состояние стороны Б";
    case RecordKind::MakeBlock:
        return "Настройки НАРА-АЗС";
    case RecordKind::OptionalBlock:
        std::snprintf(address, sizeof address, "0x%04X", index * 0x100);
        return std::string("Дополнительный блок ") + address;
    case RecordKind::Block3000:
        return "Блок 0x3000";
    default:
        return "Запись";
    }
}

} // namespace velmar
