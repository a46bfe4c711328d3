// Bringing one controller to a profile with the write sequences of the screens: the records the
// profile names are read as the tabs read them, the profile's values go into the working copies,
// and each record that changed is written as its tab writes it, the parameter block last (its
// write restarts the controller and may move it to another speed or number). The caller backs
// the controller up before the write and reads it back after it (ReadProfileTarget again).
#pragma once

#include "data/controller_model.h"
#include "data/params_write.h"
#include "data/profile.h"
#include "data/profile_image.h"
#include "data/record_results.h"
#include "data/record_store.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct ProfileTarget {
    ControllerModel model;           // the profile's records as read, and as the profile wants
    std::array<uint8_t, 7> header{}; // the sizes the controller reports
    std::vector<ProfileDeviation> changes; // the fields the profile would change
};

// Reads the sizes and the records `profile` names through `store` into `target`, puts the
// profile's values into the working copies and lists what they change. ReadFailed when a record
// could not be read; Read otherwise (the sizes are not checked here: CheckProfileSizes).
ReadResult ReadProfileTarget(RecordStore& store, const Profile& profile, ProfileTarget& target);

// The profile's new numbers for the controller: side A and, with two sides, side B (0: the
// profile leaves them).
struct ProfileNumbers {
    int sideA = 0;
    int sideB = 0;
};
ProfileNumbers NumbersOfTarget(const ProfileTarget& target);

struct ProfileWriteOutcome {
    WriteResult result = WriteResult::NoChanges; // Written when every changed record was written
    std::string record;                          // the record whose write failed (RecordTitle)
    ParamsWriteOutcome params;                   // the parameter block's write, when it had changes
};

// Writes the records of `target` whose working copy changed, stopping at the first failure.
// `line` is the port's format; `ctrlrAddress` the number the controller answers at now.
ProfileWriteOutcome WriteProfileTarget(ProfileTarget& target, RecordStore& store, PortSlot slot,
                                       const LineFormat& line, int ctrlrAddress);

} // namespace velmar
