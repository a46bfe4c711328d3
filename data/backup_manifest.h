// The manifest of a station backup (manifest.json in the backup directory): one entry per
// controller that answered, saved or not, so that a script and `verify` know what the directory
// holds and how each image file must hash.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace velmar {

// Keys in the order they are set, as every JSON document of the tools prints them.
using Json = nlohmann::ordered_json;

inline constexpr const char* kManifestName = "manifest.json";

struct BackupEntry {
    int number = 0;    // controller number it answered at
    std::string ident; // identification text (UTF-8, lines joined by '\n')
    bool saved = false;
    std::string file;       // image file name inside the directory (saved only)
    int size = 0;           // bytes of the image file
    std::string sha256;     // of the image file
    std::string time;       // when it was read, ISO 8601 local time with offset
    int retries = 0;        // repeated exchanges the read needed
    std::string reason;     // why it was not saved
    bool unreached = false; // the line failed under the poll: nothing is known of the number
    // Its replies were confirmed by rereading (its trailing reply byte is not a checksum).
    bool reread = false;
};

struct BackupManifest {
    std::string port;
    std::string created;
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

// Whether two port names reach the same line ("ttyUSB0" and "/dev/ttyUSB0" do).
bool SameLine(const std::string& a, const std::string& b);
// Empty when the backup in `dir` was made on the line `port`; else why its images must not be
// checked against that line or written into its controllers.
std::string OtherLineRefusal(const BackupManifest& manifest, const std::string& dir,
                             const std::string& port);
// The same for one image file: empty when the file lies in no backup folder (or its manifest
// does not list it), or in one made on the line `port`.
std::string ImageLineRefusal(const std::string& imagePath, const std::string& port);

} // namespace velmar
