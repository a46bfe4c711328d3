// Factory defaults: the complete device image for a dispenser make ("Шельф" or "Нара") and a
// chosen topology, the preset description shown beside it, and writing the image into a
// controller (or, in demo mode, making it the new demo image).
#pragma once

#include "data/device_buffer.h"
#include "data/record_store.h"

#include <functional>
#include <string>
#include <vector>

namespace velmar {

// None is the selector before a choice: the image is the "Шельф" one, the text a little longer.
enum class DefaultPreset { None, Shelf, Nara };

struct DefaultTopology {
    int sides = 2;
    int nozzles = 4; // per side
    int sideA = 1;
    int sideB = 2;                  // ignored (written as 0) with one side
    std::vector<int> naraAddresses; // sides x nozzles channel addresses; empty: 1, 2, 3, ...
};

// Topology checks, in the order they are made; Ok when the topology can be written.
enum class TopologyCheck {
    Ok,
    BadSides,        // not 1 or 2
    BadNozzles,      // not 1..8
    BadSideAddress,  // 0 or above 255
    SameSideAddress, // side A = side B with two sides
    BadNaraCount,    // not sides x nozzles addresses
    BadNaraAddress,  // 0 or above 255
    SameNaraAddress, // two channels share an address
};
TopologyCheck CheckDefaultTopology(const DefaultTopology& topology);
// Russian text for a check result, for the command line and message boxes.
const char* DefaultTopologyErrorText(TopologyCheck code);

// The image as it is written: every byte not named is 0, the fiscal totalisers are 0, MakeBlock
// byte 24 (PbTimeoutNara) is 15 and Ksm is valid. The topology must pass CheckDefaultTopology.
DeviceBuffer BuildDefaultImage(DefaultPreset preset, const DefaultTopology& topology);

// The description of the preset, one line per entry (empty entries are empty lines).
std::vector<std::string> DefaultPresetText(DefaultPreset preset);

// The 7-byte demo image header for an image (58, nozzles, sides, 19, 0, 69, 12).
std::array<uint8_t, DeviceBuffer::kDemoHeaderLength> DemoHeaderFor(const DeviceBuffer& image);

// Opening check of the defaults dialog: one byte read at 0x24, space 2. False only when the read
// returns no byte (a controller of another kind); an error lets the dialog open.
bool DefaultsDeviceSupported(RecordStore& store);
// The read itself, for callers that also stop when nobody answers.
StoreResult DefaultsDeviceCheck(RecordStore& store);
inline constexpr const char* kDefaultsUnsupportedText =
    "Не поддерживается работа с данным устройством";

struct DefaultsWriteResult {
    int failedSteps = 0;               // live: record writes that failed (the others ran)
    std::vector<std::string> messages; // one message per failed step, in order
    bool restartSent = false;          // live: the restart was answered
    bool addressChanged = false;       // the session now talks to side A's new address
    // Every step written (and, for a demo image, the new file stored).
    bool Written() const { return failedSteps == 0; }
};

using DemoReplacer = std::function<bool(const std::vector<uint8_t>&)>;
// For a demo image store: rewrites its file atomically and releases the image held in memory, so
// that the next access loads the new one; false when the file could not be written (the old file
// then stays). Empty for any other store.
DemoReplacer ReplaceDemoFile(RecordStore& store);

// progress(bytesDone, bytesTotal) after each record, so a window can advance its bar.
using DefaultsProgress = std::function<void(int done, int total)>;

// Live controller: writes the 36 records in their fixed order (a failed step is reported and
// the rest still run), restarts the controller and, when `ctrlrAddress` is neither side address
// of the image, switches it to side A's - only when the parameter block (which holds the
// addresses) was written, since otherwise the controller still answers at the old one. Demo image:
// `replaceDemo` is given the complete new demo image file (header + image) and must store it
// atomically; a failure is one failed step with the message "Ошибка записи".
DefaultsWriteResult WriteDefaultImage(RecordStore& store, const DeviceBuffer& image,
                                      int& ctrlrAddress, const DemoReplacer& replaceDemo,
                                      const DefaultsProgress& progress = {});

} // namespace velmar
