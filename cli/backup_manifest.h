// The manifest of a station backup (manifest.json in the backup directory): one entry per
// controller that answered, saved or not, so that a script and `verify` know what the directory
// holds and how each image file must hash.
#pragma once

#include "cli/json_output.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar::cli {

inline constexpr const char* kManifestName = "manifest.json";

struct BackupEntry {
    int number = 0;    // controller number it answered at
    std::string ident; // identification text (UTF-8, lines joined by '\n')
    bool saved = false;
    std::string file;   // image file name inside the directory (saved only)
    int size = 0;       // bytes of the image file
    std::string sha256; // of the image file
    std::string time;   // when it was read, ISO 8601 local time with offset
    // When its read started and ended, the journal's UTC text to the millisecond: a journaled
    // write before the start is in the image, one after the end is not. Empty in older manifests.
    std::string started;
    std::string finished;
    int retries = 0;        // repeated exchanges the read needed
    std::string reason;     // why it was not saved
    bool unreached = false; // the line failed under the poll: nothing is known of the number
    // Its replies were confirmed by rereading (its trailing reply byte is not a checksum).
    bool reread = false;
};

// How far the journal of changes went when a backup was made: kept outside the journal's file,
// so that a journal cut short or rebuilt afterwards no longer matches it.
struct JournalHeadRecord {
    std::string path;    // the journal the backup was made with
    std::string source;  // its identity: a random id made with it
    std::string host;    // the computer it was made on
    int64_t entries = 0; // entries of that source then
    std::string head;    // the newest of them: its hash
    bool Present() const { return !source.empty(); }
};

struct BackupManifest {
    std::string port;
    std::string created;
    // The run's place among the runs of its backup directory, from 1, given out under the
    // directory's lock: the order of the backups whatever the clock said. 0 in older manifests.
    int64_t sequence = 0;
    JournalHeadRecord journal;
    std::string folder; // the run's own folder inside the backup directory
    int first = 0;
    int last = 0;
    std::vector<BackupEntry> controllers;
};

// The local time now in strftime's `format`: the times of manifests and the names of folders.
std::string LocalTime(const char* format);

Json ManifestToJson(const BackupManifest& manifest);

// Reads DIR/manifest.json; false with `error` set when it is missing, unreadable or malformed
// (a field of the wrong type, a file name leading out of the directory).
bool ReadManifest(const std::string& dir, BackupManifest& manifest, std::string& error);
// Writes DIR/manifest.json atomically; false with `error` set.
bool WriteManifest(const std::string& dir, const BackupManifest& manifest, std::string& error);

// A manifest's time, "2026-12-08T03:00:05+03:00" (or Z, or no zone: local time), as the
// journal's UTC text "2026-12-08T00:00:05Z"; empty when it is no such text.
std::string UtcOfManifestTime(const std::string& text);

// Whether two port names reach the same line ("ttyUSB0" and "/dev/ttyUSB0" do).
bool SameLine(const std::string& a, const std::string& b);
// The name by which SameLine compares: "/dev/ttyUSB0" -> "ttyUSB0".
std::string LineName(const std::string& port);
// Empty when the backup in `dir` was made on the line `port`; else why its images must not be
// checked against that line or written into its controllers.
std::string OtherLineRefusal(const BackupManifest& manifest, const std::string& dir,
                             const std::string& port);
// The same for one image file: empty when the file lies in no backup folder (or its manifest
// does not list it), or in one made on the line `port`.
std::string ImageLineRefusal(const std::string& imagePath, const std::string& port);

} // namespace velmar::cli
