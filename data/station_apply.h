// A profile applied to one controller of a station, step by step as the station view runs it:
// read and compared first (the preview), then backed up into a run folder, written with the
// screens' sequences under the journal, read back and compared; a failed one can be given its
// backup back.
#pragma once

#include "data/backup_manifest.h"
#include "data/backup_run_folders.h"
#include "data/device_image.h"
#include "data/profile_apply.h"

#include <string>
#include <vector>

namespace velmar {

// Where a controller stands in an apply.
enum class ApplyState { Complies, WouldChange, Verified, Failed, Untouched };

struct ApplyTarget {
    int number = 0;
    ProfileTarget read;
    ApplyState state = ApplyState::Untouched;
    std::string detail;
    std::string backup;                  // the backup file, in the run's folder
    std::vector<ProfileDeviation> holds; // a failed controller's fields off the profile now
    std::vector<uint8_t> image;          // its backup
    int answersAt = 0;                   // the number it answers at after the write
};

// Reads the controller and what the profile would change in it: Complies, WouldChange, or
// Failed with the reason (a record not read, record sizes other than the profile's).
ApplyTarget PreviewApply(PortSlot slot, int number, const Profile& profile,
                         const std::string& profileFile);

struct ApplyLine {
    PortSlot slot = 0;
    std::string portName;
    LineFormat format;
    std::string journalPath;
    std::string operation; // the journal's operation text ("Станция, профиль NAME")
};

// Backs `t` up into the run, writes it, reads it back and compares. True when it holds the
// profile now; else `t` is Failed with why and what it holds off the profile.
bool ApplyToController(const ApplyLine& line, const Profile& profile, const RunFolder& run,
                       BackupManifest& manifest, ApplyTarget& t, const ImageProgressFn& progress);

// Writes a failed controller's backup back and reads it again: true when it matches.
bool RollBackController(const ApplyLine& line, const ApplyTarget& t,
                        const ImageProgressFn& progress);

} // namespace velmar
