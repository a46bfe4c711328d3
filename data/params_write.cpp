#include "data/params_write.h"

#include "data/memory_map.h"
#include "data/meter_settings.h"
#include "data/params_io.h"
#include "data/restart_wait.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace velmar {

namespace {

bool Answers(PortSlot slot, int address) {
    uint8_t reply[4] = {};
    int number = 0;
    return PollResultOf(PollCtrlrAddress(slot, address, reply, number)) == PollResult::Answered;
}

// The identification text the controller at `address` gives (complete or not); empty when none.
std::string IdentAt(PortSlot slot, int address) {
    std::array<char, kIdentTextSize> text{};
    ReadIdentText(slot, address, text.data());
    text.back() = '\0';
    return text.data();
}

enum class Found { Itself, Other, Nobody };

// How the controller written to is known again: its identification text, and the block just
// written (its first `compared` bytes; the checksum byte's place follows the length the
// controller reported). Two controllers answering together may give one of their texts (the line
// keeps the bits both send), never a block read that passes its checksum and equals this one.
struct Known {
    std::string ident;
    const CtrlrParams& params;
    int compared = 0;
};

bool HoldsBlock(RecordStore& store, const Known& known) {
    std::array<uint8_t, kSelfSizedMax> held{};
    return store.Read(addr::kParamsLength, -1, held.data(), 0).Gave(known.compared) &&
           std::memcmp(held.data(), known.params.data(), static_cast<size_t>(known.compared)) == 0;
}

// Who answers at the store's number within `budgetMs`: the controller written to, another, or
// nobody.
Found LookFor(RecordStore& store, PortSlot slot, int address, const Known& known, int budgetMs) {
    if (!AwaitRestarted(store, budgetMs)) return Found::Nobody;
    return IdentAt(slot, address) == known.ident && HoldsBlock(store, known) ? Found::Itself
                                                                             : Found::Other;
}

bool ConvertChannels(RecordStore& store, const CtrlrParams& params) {
    const int channels = std::min(params.CountSideTrk() * params.CountNozTrk(), kChannelCount);
    return ConvertMeterSettings(store, params.MeterType(), params.PhaseMet(), channels) != -1;
}

} // namespace

const char* RestartSeenText(RestartSeen seen) {
    switch (seen) {
    case RestartSeen::FoundAtNew:
        return "Ответ на команду рестарта потерян; контроллер отвечает на новых скорости и "
               "адресе, связь переведена на них";
    case RestartSeen::FoundAtOld:
        return "Ответ на команду рестарта потерян; контроллер отвечает только на прежних "
               "скорости и адресе, связь оставлена на них. Новые параметры вступят в силу "
               "после рестарта";
    case RestartSeen::Lost:
        return "Ответ на команду рестарта потерян; контроллер не отвечает ни на новых, ни на "
               "прежних скорости и адресе. Связь оставлена на прежних";
    case RestartSeen::Refused:
        return "Контроллер отказался выполнить рестарт; параметры записаны, но не вступили в силу. "
               "Связь оставлена на прежних скорости и адресе";
    case RestartSeen::AnswersAgain:
        return "Ответ на команду рестарта потерян; контроллер снова отвечает";
    case RestartSeen::Silent:
        return "Ответ на команду рестарта потерян; контроллер не отвечает. Дальнейшая запись не "
               "производится";
    case RestartSeen::Unknown:
        return "После рестарта контроллер не найден: ни на новых, ни на прежних скорости и "
               "адресе он не отвечает своим текстом идентификации. Где он, неизвестно; "
               "дальнейшая запись не производится. Связь оставлена на прежних";
    case RestartSeen::Answered:
        break;
    }
    return "";
}

bool SideAddressInUse(PortSlot slot, const CtrlrParams& params) {
    for (int attempt = 0; attempt < kAddressProbeAttempts; ++attempt)
        if (Answers(slot, params.AdrTrk_1())) return true;
    return Answers(slot, params.AdrTrk_2());
}

ParamsWriteOutcome WriteCtrlrParams(const ParamsWriteRequest& request, const CtrlrParams& params,
                                    CtrlrParams& shadow) {
    ParamsWriteOutcome out;
    out.address = request.ctrlrAddress;
    RecordStore& store = request.store;
    if (params.SameBlock(shadow)) return out;
    const bool newSpeed =
        request.followSpeed && !store.IsDemo() && params.SpeedTrk() < kSpeedBauds.size();
    const bool moves = !store.IsDemo() && (newSpeed || request.newAddress != request.ctrlrAddress);
    // A moved controller is known again by its own words: "something answers there" may be
    // another controller.
    int size = request.paramsLength;
    if (size <= 0 || size >= params::kAreaLength) size = params.Length();
    Known known{{}, params, std::min(size, params.Length()) - 1};
    if (moves && (known.ident = IdentAt(request.slot, request.ctrlrAddress)).empty()) {
        out.result = ParamsWriteResult::WriteFailed;
        return out;
    }
    if (!WriteParamsSized(store, params, request.paramsLength).Ok()) {
        out.result = ParamsWriteResult::WriteFailed;
        return out;
    }
    shadow = params;
    const StoreResult restart = store.Restart();
    if (restart.Code() == StoreCode::Declined) {
        // Not carried out: the controller stays where it is, the block not in effect.
        out.result = ParamsWriteResult::RestartFailed;
        out.restart = !moves || LookFor(store, request.slot, request.ctrlrAddress, known,
                                        kOldPlaceWaitMs) == Found::Itself
                          ? RestartSeen::Refused
                          : RestartSeen::Unknown;
        return out;
    }
    const bool confirmed = restart.Ok();
    if (!confirmed) NoteRestartWait();

    if (!moves) {
        // The controller is deaf while it starts: the channel writes wait (bounded) until it
        // answers again.
        if (!AwaitRestarted(store)) {
            out.result =
                confirmed ? ParamsWriteResult::ChannelsFailed : ParamsWriteResult::RestartFailed;
            if (!confirmed) out.restart = RestartSeen::Silent;
            return out;
        }
        if (!confirmed) out.restart = RestartSeen::AnswersAgain;
        out.result = ConvertChannels(store, params) ? ParamsWriteResult::Written
                                                    : ParamsWriteResult::ChannelsFailed;
        return out;
    }

    const uint32_t oldBaud = PortBaud(request.slot);
    if (newSpeed) {
        const uint32_t baud = kSpeedBauds[params.SpeedTrk()];
        out.port = ConfigureLine(request.slot, {baud, request.line.dataBits, request.line.parity,
                                                request.line.stopBits});
        if (!out.port.Ok()) {
            out.result = ParamsWriteResult::PortFailed;
            return out;
        }
        out.newBaud = baud;
    }
    out.address = request.newAddress;
    store.FollowAddress(request.newAddress);
    const Found atNew = LookFor(store, request.slot, request.newAddress, known, kSlowestRestartMs);
    if (atNew == Found::Itself) {
        if (!confirmed) out.restart = RestartSeen::FoundAtNew;
        out.result = ConvertChannels(store, params) ? ParamsWriteResult::Written
                                                    : ParamsWriteResult::ChannelsFailed;
        return out;
    }

    // Not there as itself: back to where it was, and is it there?
    if (out.newBaud != 0) {
        ConfigurePort(request.slot, oldBaud, request.line.dataBits, request.line.parity,
                      request.line.stopBits);
        out.newBaud = 0;
    }
    out.address = request.ctrlrAddress;
    store.FollowAddress(request.ctrlrAddress);
    const Found atOld = LookFor(store, request.slot, request.ctrlrAddress, known, kOldPlaceWaitMs);
    out.result = ParamsWriteResult::RestartFailed;
    if (atOld == Found::Itself)
        out.restart = RestartSeen::FoundAtOld;
    else if (!confirmed && atNew == Found::Nobody && atOld == Found::Nobody)
        out.restart = RestartSeen::Lost;
    else
        out.restart = RestartSeen::Unknown;
    return out;
}

} // namespace velmar
