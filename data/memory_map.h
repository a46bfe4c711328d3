// The controller's memory map: where each record lives, its length and memory space, the sizes
// record, and the channel numbering.
#pragma once

#include "protocol/ctrlr_protocol.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// The 7 sizes the controller reports at 0x3040, held once for the whole session.
struct SizesRecord {
    int paramsLength = 0;    // byte 0: length of CtrlrParams (58)
    int nozzlesPerSide = 0;  // byte 1: CountNozTrk
    int sides = 0;           // byte 2: CountSideTrk
    int settsLength = 0;     // byte 3: length of one ChannelSetts (19)
    int optionalLength = 0;  // byte 4: length of each optional block at 0x0000/0x0100
    int regsLength = 0;      // byte 5: length of one ChannelRegs (69)
    int sideStateLength = 0; // byte 6: length of one SideState (12)

    void SetFromBytes(const uint8_t bytes[7]);
    std::array<uint8_t, 7> ToBytes() const;
    void Clear() { *this = SizesRecord{}; }
    int operator[](int i) const; // byte i as an integer
};

inline constexpr int kChannelCount = 16;

namespace addr {
inline constexpr int kOptionalA = 0x0000;
inline constexpr int kOptionalB = 0x0100;
inline constexpr int kChannelSettsBase = 0x1000;
inline constexpr int kChannelRegsBase = 0x2000;
inline constexpr int kBlock3000 = 0x3000;
inline constexpr int kSizes = service::kSizes;
inline constexpr int kParamsLength = 0x3100;
inline constexpr int kParams = 0x3101;
inline constexpr int kSideStateA = 0x4000;
inline constexpr int kSideStateB = 0x4100;
inline constexpr int kTempTable = 0x5000;
inline constexpr int kMakeBlock = 0x5100;
inline constexpr int kStatusIR = service::kStatusIR;   // space 2
inline constexpr int kTempAdcIR = service::kTempAdcIR; // space 2
inline constexpr int kRelayIR = 0x27;                  // space 2
inline constexpr int kRunRegsIR = 0x28;                // space 2
inline constexpr int kRestart = service::kRestart;
} // namespace addr

namespace len {
inline constexpr int kSizes = service::kSizesLength;
inline constexpr int kParams = 58;
inline constexpr int kChannelSetts = 19;
inline constexpr int kChannelRegs = 69;
inline constexpr int kSideState = 12;
inline constexpr int kTempTable = 78;
inline constexpr int kMakeBlock = 128;
inline constexpr int kMakeBlockImage = 256;
inline constexpr int kBlock3000 = 57;
} // namespace len

enum class RecordKind {
    OptionalBlock,
    ChannelSetts,
    ChannelRegs,
    Block3000,
    Sizes,
    ParamsLength,
    Params,
    SideState,
    TempTable,
    MakeBlock,
    StatusIR,
    TempAdcIR,
    RelayIR,
    RunRegsIR,
    Restart,
};

struct MemoryMapEntry {
    RecordKind kind;
    int address;   // first (or only) address
    int count;     // how many instances (16 channels, 2 sides, ...)
    int stride;    // distance between instances
    int length;    // usual length in bytes (0 = from the sizes record)
    uint8_t space; // 0 ER, 2 IR, 4 IM
    const char* name;
};

// The address table, one row per record kind.
const std::vector<MemoryMapEntry>& MemoryMap();
const MemoryMapEntry& MemoryMapFind(RecordKind kind);

inline constexpr int ChannelAddress(int base, int channel) {
    return base + channel * 0x100;
}
// Channel n is hose (n mod nozzles) + 1 of side n div nozzles.
int ChannelSide(int channel, int nozzlesPerSide);
int ChannelHose(int channel, int nozzlesPerSide);
// "Сторона А. Рукав 1", ... in UTF-8, one per channel in the order of n.
std::vector<std::string> ChannelListTexts(int sides, int nozzlesPerSide);

} // namespace velmar
