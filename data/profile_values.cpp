#include "data/profile_values.h"

#include "data/channel_regs.h"
#include "data/field_entry.h"

#include <bit>
#include <cstdlib>

namespace velmar {

namespace {

constexpr const char* kOn = "вкл";
constexpr const char* kOff = "выкл";
constexpr int kDateParts = 3;
constexpr int kLastStateCode = 0xFF;

bool Digits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// "dd.mm.yy": the day, month and year bytes in that order.
bool ParseDate(const std::string& text, uint32_t& bits) {
    constexpr size_t kPartLength = 2;
    if (text.size() != kDateParts * (kPartLength + 1) - 1) return false;
    bits = 0;
    for (int part = 0; part < kDateParts; ++part) {
        const std::string digits = text.substr(static_cast<size_t>(part) * (kPartLength + 1), 2);
        if (!Digits(digits)) return false;
        if (part + 1 < kDateParts && text[static_cast<size_t>(part) * 3 + 2] != '.') return false;
        bits |= static_cast<uint32_t>(std::atoi(digits.c_str())) << (8 * part);
    }
    return true;
}

uint32_t WidthMask(int width) {
    return width >= 4 ? 0xFFFFFFFFU : (1U << (8 * width)) - 1;
}

} // namespace

bool ItemWritable(const CatalogueItem& item) {
    const CatalogueField& f = *item.field;
    return !(f.format == ValueFormat::Binding && f.binding.readOnly);
}

bool ParseItemValue(const CatalogueItem& item, const std::string& text, uint32_t& bits,
                    std::string& why) {
    const CatalogueField& f = *item.field;
    if (!ItemWritable(item)) {
        why = "поле только для чтения";
        return false;
    }
    if (item.mask != 0) {
        if (std::has_single_bit(item.mask)) {
            if (text != kOn && text != kOff) {
                why = std::string("ожидается «") + kOn + "» или «" + kOff + "»";
                return false;
            }
            bits = text == kOn ? item.mask : 0;
            return true;
        }
        if (ParseField(text, 0, kParseHex | kParseNoLimit) != ParseResult::Ok ||
            (HexToInt(text) & ~item.mask) != 0) {
            why = "ожидаются шестнадцатеричные цифры только этих битов";
            return false;
        }
        bits = HexToInt(text);
        return true;
    }
    switch (f.format) {
    case ValueFormat::Item:
        for (size_t i = 0; i < f.items.size(); ++i)
            if (text == f.items[i]) {
                bits = static_cast<uint32_t>(i);
                return true;
            }
        why = "нет такого значения в списке поля";
        return false;
    case ValueFormat::State:
        for (int code = 0; code <= kLastStateCode; ++code) {
            const int i = regs::StateItem(code);
            if (i >= 0 && text == regs::kStateTexts[static_cast<size_t>(i)]) {
                bits = static_cast<uint32_t>(code);
                return true;
            }
        }
        if (Digits(text) && text.size() <= 3 &&
            static_cast<uint32_t>(std::atoi(text.c_str())) <= WidthMask(item.width)) {
            bits = static_cast<uint32_t>(std::atoi(text.c_str()));
            return true;
        }
        why = "нет такого состояния";
        return false;
    case ValueFormat::Date:
        if (ParseDate(text, bits)) return true;
        why = "ожидается дата дд.мм.гг";
        return false;
    case ValueFormat::Binding:
        break;
    }
    FieldBinding b = f.binding;
    b.field = Field{f.field.name, 0, item.width, f.field.isSigned};
    if (CheckEntry(b, text, bits)) return true;
    why = "значение вне допустимого для поля";
    return false;
}

bool StoreItemValue(const CatalogueItem& item, uint32_t bits, uint8_t* record, size_t size) {
    if (static_cast<size_t>(item.offset + item.width) > size) return false;
    uint8_t* at = record + item.offset;
    const uint32_t mask = item.mask != 0 ? item.mask : WidthMask(item.width);
    SetLE(at, item.width, (GetLE(at, item.width) & ~mask) | (bits & mask));
    return true;
}

bool HoldsItemValue(const CatalogueItem& item, uint32_t bits, const uint8_t* record, size_t size) {
    if (static_cast<size_t>(item.offset + item.width) > size) return false;
    const uint32_t mask = item.mask != 0 ? item.mask : WidthMask(item.width);
    return (GetLE(record + item.offset, item.width) & mask) == (bits & mask);
}

} // namespace velmar
