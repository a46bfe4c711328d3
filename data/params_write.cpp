#include "data/params_write.h"

#include "data/memory_map.h"
#include "data/meter_settings.h"
#include "data/params_io.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

bool Answers(PortSlot slot, int address) {
    uint8_t reply[4] = {};
    int number = 0;
    return PollResultOf(PollCtrlrAddress(slot, address, reply, number)) == PollResult::Answered;
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
    if (!WriteParamsSized(store, params, request.paramsLength).Ok()) {
        out.result = ParamsWriteResult::WriteFailed;
        return out;
    }
    shadow = params;
    const bool restartAnswered = store.Restart().Ok();
    const bool newSpeed =
        request.followSpeed && !store.IsDemo() && params.SpeedTrk() < kSpeedBauds.size();
    if (!restartAnswered) {
        // Nothing moves: the controller is where it was either way, and the block not known to
        // be in effect.
        if (!newSpeed && request.newAddress == request.ctrlrAddress) {
            out.result = ParamsWriteResult::RestartFailed;
            return out;
        }
        out.restart = RestartSeen::Lost;
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
    // The controller is deaf while it starts: the channel writes wait (bounded) until it answers
    // at its new speed and address.
    bool answers = store.AwaitAnswer().Ok();
    for (int more = 1; !answers && !restartAnswered && more < kUnconfirmedRestartAwaits; ++more)
        answers = store.AwaitAnswer().Ok();
    if (!answers && !restartAnswered) {
        // The restart did not happen (or not yet): back to where the controller still is.
        if (out.newBaud != 0) {
            ConfigurePort(request.slot, oldBaud, request.line.dataBits, request.line.parity,
                          request.line.stopBits);
            out.newBaud = 0;
        }
        out.address = request.ctrlrAddress;
        store.FollowAddress(request.ctrlrAddress);
        if (store.AwaitAnswer().Ok()) out.restart = RestartSeen::FoundAtOld;
        out.result = ParamsWriteResult::RestartFailed;
        return out;
    }
    if (!restartAnswered) out.restart = RestartSeen::FoundAtNew;
    if (!answers) {
        out.result = ParamsWriteResult::ChannelsFailed;
        return out;
    }
    const int channels = std::min(params.CountSideTrk() * params.CountNozTrk(), kChannelCount);
    if (ConvertMeterSettings(store, params.MeterType(), params.PhaseMet(), channels) == -1) {
        out.result = ParamsWriteResult::ChannelsFailed;
        return out;
    }
    out.result = ParamsWriteResult::Written;
    return out;
}

} // namespace velmar
