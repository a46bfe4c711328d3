// What a freshly read record is checked for before it is shown, returned as data: which field was
// bad, what replaced it in the working copy and the message a screen shows. The shadow copy is
// never touched, so the next write sends the repaired values.
#pragma once

#include "data/records.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct Repair {
    std::string message; // UTF-8; empty for a silent repair
    Field field;
    uint32_t oldValue;
    uint32_t newValue; // equal to oldValue when the value is reported but left as read
};

namespace msg {
inline constexpr const char* kParamsSizeMismatch =
    "Внимание: размер структуры параметров не совпадает с размером считанной информации";
inline constexpr const char* kBadSpeed =
    "Внимание неправильно считаны данные о скорости ТРК! Значение параметра установлено - 4800";
inline constexpr const char* kBadMeterType = "Внимание неправильно считаны данные о типе датчика! "
                                             "Значение параметра установлено - 100 имп";
inline constexpr const char* kBadPhaseMet = "Внимание неправильно считаны данные о фазах датчика! "
                                            "Значение параметра установлено - две фазы";
inline constexpr const char* kBadTypeTbl = "Внимание неправильно считаны данные о типе табло! "
                                           "Значение параметра установлено - TBL-107";
inline constexpr const char* kBadTrkModes = "Внимание неправильно считаны данные о битовой маске!";
inline constexpr const char* kKsmWrong = "Внимание!   КСМ не верна! КСМ была пересчитана";
// First letter a Latin O, as the controller's makers wrote it.
inline constexpr const char* kBadBitStat = "Oшибка считывания битового статуса канала!";
inline constexpr const char* kBadChannelPhase =
    "Ошибка чтения данных о фазах датчика. Количество фаз установлено - 1";
} // namespace msg

struct ParamsReadCheck {
    bool sizeMismatch = false;       // the block is not 58 bytes long (reading goes on)
    std::vector<Repair> repairs;     // in the order their messages are shown
    bool trkModesUnreadable = false; // TrkModes is 0xFFFF: leave the check list as it was
    int countNozItem = 0;            // item of the hose-count list to select
    bool ksmWrong = false;           // the block as read failed its checksum

    // Every message in the order of showing: size, repairs, checksum.
    std::vector<std::string> Messages() const;
};

// Checks `working` (the block as just read, Length() = bytes read) and repairs it in place:
// bad speed, meter type, phase and display indices get their defaults; in the "Север" mode a
// hose count above 2, or 2 with two sides, becomes 1 (not when the mask itself is unreadable);
// the checksum of the bytes as read is verified. When anything was repaired or the checksum was
// wrong, Ksm is recomputed.
ParamsReadCheck CheckParamsOnRead(CtrlrParams& working);

// Hose-count list item for a CountNozTrk value: value - 1, or 0 for 0 and values above 15.
int CountNozItem(int countNozTrk);

// Status bits 0xFFFF: message and 0 in the working copy.
std::vector<Repair> CheckRegsOnRead(ChannelRegs& working);
// A phase mode of 3 or more: message and 0 ("Одна фаза(1)") in the working copy.
std::vector<Repair> CheckSettsOnRead(ChannelSetts& working);

} // namespace velmar
