// The numeric edit fields of the settings screens, one binding each, named after their control.
// A screen validates and stores an edit with StoreEntry(binding, text, record) and shows the
// record value with FormatEntry(binding, record).
#pragma once

#include "data/field_entry.h"
#include "data/records.h"

namespace velmar::bind {

using EK = EntryKind;
using DK = DisplayKind;
using ER = EntryRule;

// Controller settings tab (CtrlrParams).
inline constexpr FieldBinding eAdrTrk_1{params::kAdrTrk_1, EK::Decimal, 255};
inline constexpr FieldBinding eAdrTrk_2{params::kAdrTrk_2, EK::Decimal, 255};
inline constexpr FieldBinding eSlowStart{params::kSlowStart, EK::Decimal,     25599, 100,
                                         DK::Decimal,        ER::SlowStart255};
inline constexpr FieldBinding eSlowLoad{params::kSlowLoad, EK::Decimal, 25599, 100};
inline constexpr FieldBinding eNozzleFat{params::kNozzleFat, EK::Decimal, 2559, 10};
inline constexpr FieldBinding eMetTOut{params::kMetTOut, EK::Decimal, 255};
inline constexpr FieldBinding eImp_len{params::kImp_len, EK::Decimal, kNoLimit};
inline constexpr FieldBinding eNozzleWait{params::kNozzleWait, EK::Decimal, 99};
inline constexpr FieldBinding eBitMaskHex{params::kTrkModes, EK::Hex, 0xFFFF, 1, DK::Hex4};

// Advanced settings tab: CtrlrParams part.
inline constexpr FieldBinding eTemp_heat_low{
    params::kTemp_heat_low, EK::Signed, kNoLimit, 1, DK::Signed, ER::NegativeOnly};
inline constexpr FieldBinding eTemp_heat_high{params::kTemp_heat_high, EK::Signed, kNoLimit, 1,
                                              DK::Signed};
inline constexpr FieldBinding eMinSpeed{params::kMinSpeed, EK::Decimal, 30};
inline constexpr FieldBinding eMinSpTime{params::kMinSpTime, EK::Decimal,   180, 1,
                                         DK::Decimal,        ER::ZeroOrMin, 3};
inline constexpr FieldBinding eHydroHit{params::kHydroHit, EK::Decimal, 2555, 10};
inline constexpr FieldBinding ePcTimeout{params::kPcTimeout, EK::Decimal,   60, 1,
                                         DK::Decimal,        ER::ZeroOrMin, 3};

// Advanced settings tab: MakeBlock part.
inline constexpr FieldBinding eShimDuration{make::kShimDuration, EK::Decimal,   19, 1,
                                            DK::Decimal,         ER::ZeroOrMin, 2};
inline constexpr FieldBinding eMinVolNara{make::kMinVolNara, EK::Decimal,   500, 1,
                                          DK::Decimal,       ER::ZeroOrMin, 10};
inline constexpr FieldBinding eStWaitForceNara{make::kStWaitForceNara, EK::Decimal, 99};
inline constexpr FieldBinding eStopTimeNara{make::kStopTimeNara, EK::Decimal, 10};
inline constexpr FieldBinding ePbTimeoutNara{make::kPbTimeoutNara, EK::Decimal, 100};
inline constexpr FieldBinding eUpgrCountNara{make::kUpgrCountNara, EK::Decimal, kNoLimit, 1,
                                             DK::Decimal,          ER::None,    0,        true};
inline constexpr FieldBinding eBmuPAdm{make::kBmuPAdm, EK::Decimal, kNoLimit};

// Channel registers tab (ChannelRegs).
inline constexpr FieldBinding eBitStatHex{regs::kBitStat, EK::Hex, 0xFFFF, 1, DK::Hex4};
inline constexpr FieldBinding eSetVol{regs::kSetVol, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eSetSum{regs::kSetSum, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eLoadVol{regs::kLoadVol, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eLoadVolLo{regs::kLoadVolLo, EK::Hex, kNoLimit, 1, DK::HexPairs};
inline constexpr FieldBinding eKVol{regs::kKVol, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eKVolLo{regs::kKVolLo, EK::Hex, kNoLimit, 1, DK::HexPairs};
inline constexpr FieldBinding eLastVol{regs::kLastVol, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding ePrice{regs::kPrice, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eVolStart{regs::kVolStart, EK::Decimal, 65535};
inline constexpr FieldBinding eVolEnd{regs::kVolEnd, EK::Decimal, kNoLimit};
inline constexpr FieldBinding eDCount{regs::kDCount, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eFCount{regs::kFCount, EK::Decimal, kNoLimit};
inline constexpr FieldBinding eFCMil{regs::kFCMil, EK::Decimal, 255};
inline constexpr FieldBinding eLCount{regs::kLCount, EK::Volume, kNoLimit, 1,
                                      DK::Volume,    ER::None,   0,        true};
inline constexpr FieldBinding eSCount{regs::kSCount, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eBCount{regs::kBCount, EK::Volume, kNoLimit, 1, DK::Volume};
inline constexpr FieldBinding eMCount{regs::kMCount, EK::Volume, kNoLimit, 1, DK::Volume};

// Channel settings tab (ChannelSetts).
inline constexpr FieldBinding eImpWLo{setts::kImpWLo, EK::Hex, kNoLimit, 1, DK::HexPairs};
inline constexpr FieldBinding eImpWHi{setts::kImpWHi, EK::Decimal, kNoLimit};
inline constexpr FieldBinding eImpWkLo{setts::kImpWkLo, EK::Hex, kNoLimit, 1, DK::HexPairs};
inline constexpr FieldBinding eImpWkHi{setts::kImpWkHi, EK::Decimal, kNoLimit};
inline constexpr FieldBinding eImpWkWLo{setts::kImpWkWLo, EK::Hex, kNoLimit, 1, DK::HexPairs};
inline constexpr FieldBinding eImpLit{setts::kImpLit, EK::Decimal,    kNoLimit, 1,
                                      DK::Decimal,    ER::MeterFactor};
inline constexpr FieldBinding eCountKor{setts::kCountKor, EK::Decimal, kNoLimit, 1,
                                        DK::Decimal,      ER::None,    0,        true};

// Side state tab (SideState); shown read-only.
inline constexpr FieldBinding eActiveNoz{side::kActiveNoz, EK::Decimal, kNoLimit, 1,
                                         DK::Decimal,      ER::None,    0,        true};
inline constexpr FieldBinding eCountKor_s{side::kCountKor, EK::Decimal, 65535};
inline constexpr FieldBinding eCountTranz_s{side::kCountTranz, EK::Decimal, kNoLimit};

} // namespace velmar::bind
