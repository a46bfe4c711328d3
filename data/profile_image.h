// A profile and a saved device image: a profile made from the chosen fields of an image (a
// controller read whole, or an image file), and the fields of a profile an image does not hold.
#pragma once

#include "data/profile.h"

#include <string>
#include <vector>

namespace velmar {

// Which fields a profile is made of.
struct ProfileSelection {
    // Record kinds by their journal names ("Params", "MakeBlock", "ChannelSetts", ...); the
    // channel records are taken for every channel in use. Empty: the parameter block (or, with
    // `fields`, every kind a profile can hold).
    std::vector<std::string> records;
    // Field names ("SlowStart", "ImpLit", "AdrNaraTrk[2]"): only these, whether or not they make
    // a controller itself. Empty: every field of the records but those.
    std::vector<std::string> fields;
};

// The chosen fields of `image` (a checked saved image) with the values it holds; false with
// `why` for a record or field name that names nothing.
bool MakeProfile(const std::vector<uint8_t>& image, const ProfileSelection& selection,
                 const std::string& name, Profile& profile, std::string& why);

// A field whose value differs from the profile's.
struct ProfileDeviation {
    const ProfileEntry* entry;
    std::string record;  // RecordTitle of the controller's topology
    std::string caption; // the item's caption
    std::string now;     // as the screens show it
    std::string wanted;  // the profile's value as the screens would show it
};
// "Параметры контроллера: Доза в начале, мл: 100 -> 300".
std::string DeviationLine(const ProfileDeviation& d);

// The profile's value as the screens show it, put into a copy of `record`.
std::string WantedValue(const ProfileEntry& e, const uint8_t* record, size_t size);

// The fields of `profile` that `image` (with the profile's record sizes) does not hold.
std::vector<ProfileDeviation> CompareImage(const Profile& profile,
                                           const std::vector<uint8_t>& image);

} // namespace velmar
