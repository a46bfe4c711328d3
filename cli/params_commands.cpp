// set-params: changes fields of the controller parameter block and writes it with the same
// sequence as the settings tab (restart, the port following a new speed, the new address taken
// into use, the channels' meter settings brought in line).
#include "cli/cli_command.h"
#include "data/ctrlr_params.h"
#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

const char* kSetParamsUsage = "set-params ПОЛЕ=ЗНАЧЕНИЕ ...   (поля блока параметров, например "
                              "SpeedTrk=2 MetTOut=30; значения десятичные)";

const Field* FindScalarField(const std::string& name) {
    for (const Field& f : params::kFields)
        if (f.count == 1 && name == f.name && std::string(f.name) != params::kKsm.name) return &f;
    return nullptr;
}

// A decimal value that fits the field (negative only for signed fields).
bool ParseFieldValue(const Field& f, const std::string& text, long& value) {
    if (text.empty() || text.size() > 6) return false;
    const bool negative = text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    const long bits = 8L * f.width;
    const long low = f.isSigned ? -(1L << (bits - 1)) : 0;
    const long high = f.isSigned ? (1L << (bits - 1)) - 1 : (1L << bits) - 1;
    return value >= low && value <= high;
}

int SetParams(Context& ctx, const std::vector<std::string>& args) {
    if (args.empty()) return Fail(kExitUsage, std::string("Использование: ") + kSetParamsUsage);
    // One read: a script asks again itself.
    ControllerModel model;
    if (ReadModelParams(model, *ctx.store, 1) != ReadResult::Read)
        return Fail(kExitNoAnswer, "Ошибка чтения параметров");
    const CtrlrParams& shadow = model.Params().read;
    CtrlrParams& params = model.Params().working;

    for (const std::string& arg : args) {
        const size_t eq = arg.find('=');
        const Field* field = eq == std::string::npos ? nullptr : FindScalarField(arg.substr(0, eq));
        if (field == nullptr) return Fail(kExitUsage, "Неизвестное поле: " + arg);
        long value = 0;
        if (!ParseFieldValue(*field, arg.substr(eq + 1), value))
            return Fail(kExitUsage, "Недопустимое значение: " + arg);
        params.Set(*field, static_cast<uint32_t>(value));
    }
    params.UpdateKsm();

    const bool live = !ctx.store->IsDemo();
    const int before = ctx.ctrl;
    int newAddress = ctx.ctrl;
    if (live && params.AdrTrk_1() != shadow.AdrTrk_1()) {
        newAddress = params.AdrTrk_1();
        // The window asks the engineer; a script gets no question and writes nothing.
        if (params.CountSideTrk() == 1 && SideAddressInUse(ctx.slot, params))
            return Fail(kExitNoAnswer, "Выбранный вами адрес уже используется; запись не "
                                       "произведена");
    }
    if (const int code = CheckJournal(ctx); code != kExitOk) return code;
    const ParamsWriteRequest request{
        *ctx.store,
        ctx.slot,
        {.dataBits = ctx.dataBits, .parity = ctx.parity, .stopBits = ctx.stopBits},
        shadow.Length(),
        ctx.ctrl,
        newAddress,
        params.SpeedTrk() != shadow.SpeedTrk()};
    const ParamsWriteOutcome out = WriteModelParams(model, request);
    switch (out.result) {
    case ParamsWriteResult::NoChanges:
        std::cout << "Запись не произведена. Не было изменений параметров\n";
        return kExitOk;
    case ParamsWriteResult::NotRead:
    case ParamsWriteResult::SizesFailed:
    case ParamsWriteResult::WriteFailed:
        return Fail(kExitNoAnswer, WithJournalReason(ctx, "Ошибка записи!"));
    case ParamsWriteResult::RestartFailed:
        return Fail(kExitNoAnswer,
                    out.restart != RestartSeen::Answered
                        ? RestartSeenText(out.restart)
                        : "Параметры записаны, но контроллер не ответил на команду рестарта; "
                          "связь оставлена на прежних скорости и адресе");
    case ParamsWriteResult::PortFailed:
        return Fail(kExitNoAnswer, "Параметры записаны, но порт не переключен на новую скорость");
    case ParamsWriteResult::ChannelsFailed:
        return Fail(kExitNoAnswer, WithJournalReason(ctx, "Ошибка записи параметров канала"));
    case ParamsWriteResult::Written:
        break;
    }
    ctx.ctrl = out.address;
    std::cout << "Параметры успешно записаны\n";
    if (out.restart != RestartSeen::Answered) std::cout << RestartSeenText(out.restart) << '\n';
    if (ctx.ctrl != before) std::cout << "Работа с Адресом №" << ctx.ctrl << '\n';
    if (out.newBaud != 0) std::cout << "Скорость порта: " << out.newBaud << '\n';
    return kExitOk;
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"set-params", kSetParamsUsage, SetParams});

} // namespace
} // namespace velmar::cli
