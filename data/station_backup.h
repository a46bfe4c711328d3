// A station's backups, shared by velmar-cli and the window: every controller that answers on a
// line saved into a new run folder of a backup directory with its manifest, one controller
// checked against its latest saved image, and where each controller's latest backup is.
#pragma once

#include "data/backup_manifest.h"
#include "data/device_image.h"
#include "data/image_diff.h"
#include "link/serial_port.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmar {

// How a station backup ended.
enum class StationResult {
    Complete,     // every controller met was saved; `latest` names the run
    Incomplete,   // some were not (the run stays beside `latest`)
    NoneAnswered, // no controller answered: no run folder is left
    FileFailed,   // the run folder, an image or the manifest could not be written
    Cancelled,    // stopped by the engineer: what was saved stays in an incomplete run
};

struct StationBackupRequest {
    std::string top; // the backup directory
    std::string portName;
    int first = 1;
    int last = 31;
    bool thorough = false; // every number polled with the full wait
    bool reserve = false;  // the reserve address too, when in the range
};

// Told as the backup goes, on the thread that runs it.
class StationBackupWatch {
  public:
    virtual ~StationBackupWatch() = default;
    // Folders of killed runs dealt with before the run started.
    virtual void Notes(const std::vector<std::string>& /*notes*/) {}
    // A controller's image is being read: bytes done of total.
    virtual void ImageStarted(int /*number*/) {}
    virtual void ImageProgress(int /*number*/, int /*done*/, int /*total*/) {}
    virtual void ImageEnded(int /*number*/) {}
    // `number` answered as the second side of controller `sideA`: not saved again.
    virtual void SecondSide(int /*number*/, int /*sideA*/) {}
    // One controller done, saved or not.
    virtual void Taken(const BackupEntry& /*entry*/) {}
    // True stops the run between exchanges.
    virtual bool Stop() { return false; }
};

struct StationBackupOutcome {
    StationResult result = StationResult::NoneAnswered;
    BackupManifest manifest;
    std::string error; // why the run folder or the manifest failed (FileFailed)
};

StationBackupOutcome BackupStation(PortSlot slot, const StationBackupRequest& request,
                                   StationBackupWatch& watch);

// Why the line failed under the last exchange ("нет связи со шлюзом tcp:...: reason"), or empty
// while the port's device or connection is there.
std::string LinkLossText(PortSlot slot, const std::string& portName);
// The identification text (code page 1251) as UTF-8 lines joined by '\n', no line end after the
// last: for manifests, JSON and the window's lists.
std::string IdentLines(const char* text);

// One controller against its saved image.
enum class VerifyStatus { Same, Differs, Failed, BadBackup };
struct VerifyOutcome {
    VerifyStatus status = VerifyStatus::Failed;
    std::string detail;                       // why it was not read, or the copy is bad
    std::vector<ImageDifference> differences; // Differs: field by field, as `diff` names them
};
// Reads controller `entry.number` whole and compares it with its image in `dir`.
VerifyOutcome VerifyController(PortSlot slot, const std::string& portName, const std::string& dir,
                               const BackupEntry& entry, const ImageProgressFn& progress = {},
                               const ImageStopFn& stop = {});

// The numbers that answer in first..last (the reserve address skipped), in order; `step` is told
// each number polled, `stop` asked before each poll.
std::vector<int> ScanStation(PortSlot slot, int first, int last,
                             const std::function<void(int)>& step = {},
                             const ImageStopFn& stop = {});

// The number of controller `number`'s second side when it serves two, else 0 (read from its
// parameter block).
int SecondSideNumber(PortSlot slot, int number);

// How many entries the journal at `journalPath` holds for controller `number` of the line
// `portName` from the manifest time `since` on; -1 when the journal cannot be read.
int JournalEntriesSince(const std::string& journalPath, const std::string& portName, int number,
                        const std::string& since);

// The newest saved image of one controller in a backup directory.
struct LatestBackup {
    std::string dir; // the run folder holding it
    BackupEntry entry;
};
// For each controller number, its newest saved image among the complete and incomplete runs of
// `top` (a line's backup directory) made on the line `portName`.
std::map<int, LatestBackup> LatestBackups(const std::string& top, const std::string& portName);

} // namespace velmar
