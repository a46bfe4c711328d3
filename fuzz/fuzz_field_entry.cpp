// Field texts and freshly read records: no text makes an entry write outside its record or
// store a value the field check refused, and the read checks leave a block with a valid
// checksum whenever they change it.
#include "data/field_bindings.h"
#include "data/field_entry.h"
#include "data/read_checks.h"
#include "fuzz_support.h"

#include <cstring>
#include <string_view>

namespace {

constexpr velmar::FieldBinding kBindings[] = {
    velmar::bind::eSlowStart,     velmar::bind::eImp_len,        velmar::bind::eBitMaskHex,
    velmar::bind::eTemp_heat_low, velmar::bind::eTemp_heat_high, velmar::bind::eMinSpTime,
    velmar::bind::eHydroHit,      velmar::bind::ePrice,          velmar::bind::eSetVol,
    velmar::bind::eLoadVolLo,     velmar::bind::eImpLit,         velmar::bind::eMinVolNara,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmar;
    if (size < 1) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const FieldBinding& b = kBindings[data[0] % std::size(kBindings)];

    uint8_t record[72] = {};
    const size_t recordSize = 40 + data[0] % 32;
    uint8_t before[72];
    std::memcpy(before, record, sizeof record);
    uint32_t stored = 0;
    const bool valid = CheckEntry(b, text, stored);
    const bool wrote = StoreEntry(b, text, record, recordSize);
    if (wrote && !valid) fuzz::Broken("stored a refused text");
    if (!wrote && std::memcmp(before, record, sizeof record) != 0) fuzz::Broken("bad text stored");
    (void)FormatEntry(b, record, recordSize);

    uint32_t volume = 0;
    if (ParseVolume(text, volume) && FormatVolume(volume).size() > 12) fuzz::Broken("volume");
    (void)ParseField(text, 255, data[0] & 3);
    (void)HexToInt(text);

    // The same bytes as a parameter block of any length.
    CtrlrParams p(data, static_cast<int>(std::min<size_t>(size, 255)));
    const int length = p.Length();
    const bool wasValid = p.KsmValid();
    const auto check = CheckParamsOnRead(p);
    if (p.Length() != length) fuzz::Broken("length changed");
    if (length > 0 && (check.ksmWrong || !check.repairs.empty()) && !p.KsmValid())
        fuzz::Broken("repaired block without a valid checksum");
    if (check.ksmWrong == wasValid) fuzz::Broken("checksum verdict");
    return 0;
}
