// Configuration profiles: chosen fields of a controller's records with the values they should
// hold, kept in a small text file an engineer can read and edit. Fields are named by their
// record, caption and name as the screens and the image comparison name them, values as the
// screens show them; a profile is checked field by field as it is read, so that nothing it would
// write is out of what the screens allow.
//
// The file:
//   # comments and blank lines are ignored
//   Профиль = Станция 5, ТРК одной модели
//   Размеры записей = 58 19 0 69 12
//   [Параметры контроллера]
//   Доза в начале, мл (SlowStart) = 100
//   [Настройки канала 1]
//   Импульсов на литр (ImpLit) = 200
// The record sizes are those of the controller family the profile was made from (parameter
// block, channel settings, optional block, channel registers, side state); a profile is refused
// by a controller that reports other sizes. The caption before the name is optional, but when
// given it must be the field's own.
#pragma once

#include "data/field_catalogue.h"
#include "data/memory_map.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

inline constexpr const char* kProfileNameKey = "Профиль";
inline constexpr const char* kProfileSizesKey = "Размеры записей";

// The record sizes a profile names: the bytes of the sizes header that give record lengths.
inline constexpr int kProfileSizeBytes[] = {0, 3, 4, 5, 6};
inline constexpr int kProfileSizeCount = 5;
using ProfileSizes = std::array<int, kProfileSizeCount>;
ProfileSizes SizesOfHeader(const uint8_t header[7]);

// One field of a profile.
struct ProfileEntry {
    RecordKind kind = RecordKind::Params;
    int index = 0;      // channel 0..15, side 0..1, else 0
    std::string field;  // "SlowStart", "AdrNaraTrk[2]", as the image comparison names it
    CatalogueItem item; // the catalogue's item of the field
    std::string value;  // as the screens show it
    uint32_t bits = 0;  // the value in the field (profile_values.h)
    int line = 0;       // in the file (0: made here)
};

struct Profile {
    std::string name; // the file's "Профиль =", else the file name without folder and suffix
    ProfileSizes sizes{};
    std::vector<ProfileEntry> entries; // in file order
};

// Why a profile was refused.
enum class ProfileRefusal {
    None,
    CannotOpen,   // the file cannot be read
    Syntax,       // a line that is neither a record, a field nor a header key
    UnknownField, // no such record or field (or a caption that is not the field's)
    BadValue,     // a value the field's entry rules do not allow
    Metrological, // a metrological field the engineer did not confirm
    OtherSizes,   // the profile's record sizes are not the controller's
};

struct ProfileError {
    ProfileRefusal reason = ProfileRefusal::None;
    std::string file;
    int line = 0;      // 0: the file as a whole
    std::string field; // the field's name, when one is concerned
    std::string text;  // what is wrong, for the engineer
};
// "profile.txt:7: SlowStart: значение 900 вне допустимого для поля «Доза в начале, мл»".
std::string ProfileErrorText(const ProfileError& error);

struct ProfileReadOptions {
    // The metrological fields the engineer confirmed, by name without an element ("ImpLit",
    // "MeterType"); "*" confirms all.
    std::vector<std::string> metrological;
    // False when the profile is only compared (check): nothing is written.
    bool requireMetrological = true;
};

// Reads the profile text `text` of the file `file`; false with `error` on the first refusal.
bool ParseProfile(const std::string& text, const std::string& file,
                  const ProfileReadOptions& options, Profile& profile, ProfileError& error);
// Reads the profile file at `path`.
bool ReadProfile(const std::string& path, const ProfileReadOptions& options, Profile& profile,
                 ProfileError& error);
// Refuses the profile for a controller (or image) with the sizes header `header`: OtherSizes
// when its record sizes differ, or UnknownField when a field lies beyond the record it belongs to.
bool CheckProfileSizes(const Profile& profile, const std::string& file, const uint8_t header[7],
                       ProfileError& error);

// The profile as its file holds it.
std::string ProfileText(const Profile& profile);

// Whether `field` ("AdrTrk_1", "FCount[3]") of `kind` makes a controller itself: its number and
// speed on the line, its totalisers, prices and counts. Taken into a profile only when named.
bool IsIdentityField(RecordKind kind, const std::string& field);
// The section title of a record: RecordTitle without the channel's hose.
std::string ProfileRecordTitle(RecordKind kind, int index);

} // namespace velmar
