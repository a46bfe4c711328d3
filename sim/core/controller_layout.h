// Where the simulated controller keeps its records, and the offsets of the fields it uses itself.
#pragma once

#include <cstdint>

namespace velmar::sim::layout {

inline constexpr uint32_t kSpaceSize = 0x10000;

// Space 0 (stored records).
inline constexpr uint32_t kOptionalBlockA = 0x0000;
inline constexpr uint32_t kOptionalBlockB = 0x0100;
inline constexpr uint32_t kChannelSettsBase = 0x1000;
inline constexpr uint32_t kChannelRegsBase = 0x2000;
inline constexpr uint32_t kChannelStride = 0x100;
inline constexpr uint32_t kBlock3000 = 0x3000;
inline constexpr uint32_t kSizesRecord = 0x3040;
inline constexpr uint32_t kParamsLength = 0x3100; // length byte; the block follows
inline constexpr uint32_t kParams = 0x3101;
inline constexpr uint32_t kSideStateA = 0x4000;
inline constexpr uint32_t kSideStateB = 0x4100;
inline constexpr uint32_t kTempTable = 0x5000;
inline constexpr uint32_t kMakeBlock = 0x5100;
inline constexpr uint32_t kRestartTarget = 0x88FFFF;

inline constexpr int kChannels = 16;
inline constexpr int kParamsSize = 58;
inline constexpr int kChannelSettsSize = 19;
inline constexpr int kChannelRegsSize = 69;
inline constexpr int kSideStateSize = 12;
inline constexpr int kSizesRecordSize = 7;
inline constexpr int kBlock3000Size = 57;
inline constexpr int kMakeBlockSize = 128;
inline constexpr int kMakeRegionSize = 256; // what a device image carries from 0x5100
inline constexpr int kTempEntries = 39;

// CtrlrParams field offsets.
inline constexpr int kSpeedTrk = 0;
inline constexpr int kSpeed2CnlTrk = 1;
inline constexpr int kAdrTrk1 = 2;
inline constexpr int kAdrTrk2 = 3;
inline constexpr int kCountNozTrk = 4;
inline constexpr int kCountSideTrk = 5;
inline constexpr int kKsm = 57;

// Space 2 (live registers).
inline constexpr uint32_t kStatusReg = 0x24;
inline constexpr uint8_t kPulseSimulatorBit = 0x40;
inline constexpr uint32_t kTempAdcReg = 0x25;     // 16-bit ADC value, then degrees (signed)
inline constexpr uint32_t kDisplayModeReg = 0x25; // written: display board mode
inline constexpr uint32_t kRelayTestReg = 0x27;   // written: heating relay test
inline constexpr uint32_t kRunTimeRegs = 0x28;

} // namespace velmar::sim::layout
