// Commands that talk to the controller on the line: identify, scan, sizes, read, write,
// restart, simulator.
#include "cli/cli_command.h"
#include "cli/hex_dump.h"
#include "cli/json_output.h"
#include "data/ident_sequence.h"
#include "data/memory_map.h"
#include "data/restart_wait.h"
#include "data/station_backup.h"
#include "protocol/address_search.h"
#include "protocol/cp1251_text.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

constexpr unsigned long kMaxAddress = 0xFFFFFF;
constexpr unsigned long kMaxCount = 0x10000;

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

int NotInDemo(const char* name) {
    return Fail(kExitUsage,
                std::string("Команда ") + name + " недоступна в демонстрационном режиме");
}

bool ParseSpace(const std::string& text, uint8_t& space, std::string& label) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "ER")
        space = kSpaceER;
    else if (upper == "IR")
        space = kSpaceIR;
    else if (upper == "IM")
        space = kSpaceIM;
    else
        return false;
    label = upper;
    return true;
}

} // namespace

std::string IdentForTerminal(const char* text) {
    std::string out = IdentLines(text);
    if (!out.empty()) out += '\n';
    return out;
}

std::string IdentText(const char* text) {
    return IdentLines(text);
}

std::string LinkLossText(const Context& ctx) {
    return velmar::LinkLossText(ctx.slot, ctx.portName);
}

namespace {

std::string WithLinkLoss(const Context& ctx, std::string message) {
    const std::string loss = LinkLossText(ctx);
    return loss.empty() ? message : message + " (" + loss + ")";
}

} // namespace

int PollController(Context& ctx) {
    uint8_t reply[4] = {};
    int number = 0;
    const PollResult poll = PollResultOf(PollCtrlrAddress(ctx.slot, ctx.ctrl, reply, number));
    if (poll == PollResult::NoAnswer) {
        return Fail(
            kExitNoAnswer,
            WithLinkLoss(ctx, ctx.ctrl == kReserveAddress
                                  ? std::string("По резервному каналу связь не установлена")
                                  : "Нет связи с устройством №" + std::to_string(ctx.ctrl)));
    }
    if (poll != PollResult::Answered)
        return Fail(kExitNoAnswer, "C данным устройством не поддерживается работа");
    if (ctx.ctrl == kReserveAddress) {
        ctx.ctrl = number;
        if (ctx.store) ctx.store->FollowAddress(number);
    }
    return kExitOk;
}

namespace {

const char* kIdentifyUsage = "identify";
int Identify(Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage(kIdentifyUsage);
    if (ctx.store && ctx.store->IsDemo()) {
        if (ctx.json)
            PrintJson({{"demo", true}});
        else
            std::cout << "Демонстрационная версия программы\n";
        return kExitOk;
    }
    const IdentOutcome out = IdentifyController(ctx.slot, ctx.ctrl);
    using Stage = IdentOutcome::Stage;
    switch (out.stage) {
    case Stage::NoAnswer:
        return Fail(
            kExitNoAnswer,
            WithLinkLoss(ctx, ctx.ctrl == kReserveAddress
                                  ? std::string("По резервному каналу связь не установлена")
                                  : "Нет связи с устройством №" + std::to_string(ctx.ctrl)));
    case Stage::Unsupported:
        return Fail(kExitNoAnswer, "C данным устройством не поддерживается работа");
    case Stage::RegisterFailed:
        return Fail(kExitNoAnswer, "Ошибка чтения регистра IR 24");
    case Stage::TimeOut:
        return Fail(kExitNoAnswer, "Идентификатор не считан");
    case Stage::Identified:
        break;
    }
    ctx.ctrl = out.ctrlrAddress;
    if (ctx.store) ctx.store->FollowAddress(ctx.ctrl);
    if (!out.complete) std::cerr << "Идентификатор считан не полностью\n";
    if (ctx.json) {
        if (out.pulseSimulator < 0) return Fail(kExitNoAnswer, "Ошибка чтения имитатора");
        PrintJson({{"number", ctx.ctrl},
                   {"ident", IdentText(out.text.c_str())},
                   {"identComplete", out.complete},
                   {"simulator", out.pulseSimulator == 1}});
        return kExitOk;
    }
    std::cout << IdentForTerminal(out.text.c_str());
    std::cout << "Работа с Адресом №" << ctx.ctrl << '\n';
    if (out.pulseSimulator < 0) return Fail(kExitNoAnswer, "Ошибка чтения имитатора");
    std::cout << (out.pulseSimulator == 1 ? "Имитатор включен" : "Имитатор выключен") << '\n';
    return kExitOk;
}

const char* kScanUsage =
    "scan [ПЕРВЫЙ [ПОСЛЕДНИЙ]]   (номера 1..255, по умолчанию 1..31; 240 только "
    "с --reserve)";
int Scan(Context& ctx, const std::vector<std::string>& args) {
    if (ctx.store && ctx.store->IsDemo()) return NotInDemo("scan");
    if (args.size() > 2) return Usage(kScanUsage);
    int first = 1;
    int last = 31;
    auto number = [](const std::string& s, int& out) {
        if (s.empty() || s.size() > 3 ||
            !std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
        out = std::stoi(s);
        return out >= 1 && out <= 255;
    };
    if (!args.empty() && !number(args[0], first)) return Usage(kScanUsage);
    if (args.size() == 2 && !number(args[1], last)) return Usage(kScanUsage);
    if (args.size() == 1) last = std::max(first, last);
    if (last < first) return Usage(kScanUsage);

    std::vector<int> found;
    std::vector<int> unreached;
    std::vector<int> garbled; // something answered, but never readably
    std::string loss;
    auto report = [&](const SearchResult& r) {
        if (r.answer == SearchAnswer::Answered) found.push_back(r.number);
        if (r.answer == SearchAnswer::BadReply) garbled.push_back(r.number);
        if (r.answer == SearchAnswer::NotReached) {
            unreached.push_back(r.number);
            loss = LinkLossText(ctx);
        }
        if (!ctx.json)
            std::cout << "Трк №" << r.number
                      << (r.answer == SearchAnswer::Answered     ? " найдено."
                          : r.answer == SearchAnswer::NotReached ? " не опрошено: " + loss
                          : r.answer == SearchAnswer::BadReply ? " не найдено: ответ искажен."
                                                               : " не найдено.")
                      << std::endl;
    };
    AddressSearch search(ctx.slot, ctx.thorough);
    for (int n = first; n <= last; ++n) {
        // Every controller answers the reserve address: in a range it would be found again.
        if (n == kReserveAddress && !ctx.reserve) continue;
        for (const SearchResult& r : search.Poll(n)) report(r);
    }
    for (const SearchResult& r : search.Settle()) report(r);
    if (ctx.json) {
        Json doc = {{"first", first}, {"last", last}, {"found", found}};
        if (!unreached.empty()) doc["unreached"] = unreached;
        if (!garbled.empty()) doc["garbled"] = garbled;
        PrintJson(doc);
    }
    // The polls of a search are never repeated (their timing is the engineer's): the count
    // says so.
    PrintRetriedRequests(ctx);
    if (!unreached.empty())
        return Fail(kExitNoAnswer,
                    "Не опрошено номеров: " + std::to_string(unreached.size()) + " (" + loss + ")");
    // A reply that was never readable may be a controller left out: not a clean scan.
    if (!garbled.empty())
        return Fail(kExitNoAnswer, "Искажен ответ номеров: " + std::to_string(garbled.size()) +
                                       " (повторите с --thorough или проверьте линию)");
    if (found.empty()) return Fail(kExitNoAnswer, "Ни один контроллер не ответил");
    return kExitOk;
}

const char* kSizesUsage = "sizes";
int Sizes(Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage(kSizesUsage);
    if (!ctx.store->ReadSizes().Ok()) return Fail(kExitNoAnswer, "Нет связи с устройством");
    const SizesRecord& s = ctx.store->Sizes();
    if (ctx.json) {
        PrintJson({{"paramsLength", s.paramsLength},
                   {"nozzlesPerSide", s.nozzlesPerSide},
                   {"sides", s.sides},
                   {"settsLength", s.settsLength},
                   {"optionalLength", s.optionalLength},
                   {"regsLength", s.regsLength},
                   {"sideStateLength", s.sideStateLength}});
        return kExitOk;
    }
    std::cout << "Длина блока параметров: " << s.paramsLength << '\n'
              << "Рукавов на сторону: " << s.nozzlesPerSide << '\n'
              << "Сторон: " << s.sides << '\n'
              << "Длина настроек канала: " << s.settsLength << '\n'
              << "Длина дополнительных блоков: " << s.optionalLength << '\n'
              << "Длина регистров канала: " << s.regsLength << '\n'
              << "Длина состояния стороны: " << s.sideStateLength << '\n';
    return kExitOk;
}

const char* kReadUsage = "read ER|IR|IM АДРЕС КОЛИЧЕСТВО   (шестнадцатеричные; 0 - запись с "
                         "байтом длины)";
int Read(Context& ctx, const std::vector<std::string>& args) {
    uint8_t space = 0;
    std::string label;
    if (args.size() != 3 || !ParseSpace(args[0], space, label)) return Usage(kReadUsage);
    const auto address = ParseHex(args[1]);
    const auto count = ParseHex(args[2]);
    if (!address || *address > kMaxAddress || !count || *count > kMaxCount)
        return Usage(kReadUsage);
    if (!ctx.store->Holds(static_cast<int>(*address), space)) return NotInDemo("read");

    // A self-sized record holds up to 255 bytes, and the demo image hands out 256 bytes for the
    // make-specific block whatever was asked: the buffer takes either.
    std::vector<uint8_t> buffer(std::max<size_t>(*count, 256) + 1, 0);
    const bool selfSized = *count == 0;
    const StoreResult read =
        ctx.store->Read(static_cast<int>(*address), selfSized ? -1 : static_cast<int>(*count),
                        buffer.data(), space);
    if (!read.Ok()) return Fail(kExitNoAnswer, "Ошибка чтения " + label);
    const int got = read.Length();
    const size_t shown = selfSized
                             ? static_cast<size_t>(got)
                             : std::min(static_cast<size_t>(got), static_cast<size_t>(*count));
    const auto first = static_cast<uint32_t>(*address + (selfSized ? 1 : 0));
    if (ctx.json) {
        std::string hex;
        char digits[3];
        for (size_t i = 0; i < shown; ++i) {
            std::snprintf(digits, sizeof digits, "%02X", buffer[i]);
            hex += digits;
        }
        PrintJson({{"space", label}, {"address", first}, {"count", shown}, {"hex", hex}});
        return kExitOk;
    }
    std::cout << HexDump(first, buffer.data(), shown);
    return kExitOk;
}

const char* kWriteUsage = "write ER|IR|IM АДРЕС БАЙТЫ   (шестнадцатеричные, например 0A1B2C)";
int Write(Context& ctx, const std::vector<std::string>& args) {
    uint8_t space = 0;
    std::string label;
    if (args.size() < 3 || !ParseSpace(args[0], space, label)) return Usage(kWriteUsage);
    const auto address = ParseHex(args[1]);
    std::string hex;
    for (size_t i = 2; i < args.size(); ++i) hex += (i > 2 ? " " : "") + args[i];
    const auto bytes = ParseHexBytes(hex);
    if (!address || *address > kMaxAddress || !bytes || bytes->size() > kMaxCount)
        return Usage(kWriteUsage);
    if (!ctx.store->Holds(static_cast<int>(*address), space)) return NotInDemo("write");
    if (const int code = CheckJournal(ctx); code != kExitOk) return code;
    const StoreResult written = ctx.store->Write(
        static_cast<int>(*address), static_cast<int>(bytes->size()), bytes->data(), space);
    if (written.Code() == StoreCode::Overtaken) {
        return Fail(kExitNoAnswer, "Ошибка записи " + label +
                                       ": контроллер сам изменил эти байты во время записи, "
                                       "повторно они не записаны; прочитайте их заново");
    }
    if (!written.Ok()) return Fail(kExitNoAnswer, WithJournalReason(ctx, "Ошибка записи " + label));
    std::cout << "Запись(" << label << ") прошла успешно.\n";
    return kExitOk;
}

const char* kRestartUsage = "restart";
int Restart(Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage(kRestartUsage);
    const StoreResult sent = ctx.store->Restart();
    if (sent.Code() == StoreCode::Declined)
        return Fail(kExitNoAnswer, "Рестарт ТРК не выполнен: контроллер отказался его выполнить");
    if (!sent.Ok()) {
        // Never sent twice: with its status lost, whether it restarted cannot be told, only
        // whether the controller answers again.
        if (ctx.store->IsDemo()) return Fail(kExitNoAnswer, "Рестарт ТРК не выполнен: нет ответа");
        NoteRestartWait();
        if (AwaitRestarted(*ctx.store))
            return Fail(kExitNoAnswer, "Ответ на команду рестарта потерян; контроллер отвечает, "
                                       "но выполнен ли рестарт, неизвестно");
        return Fail(kExitNoAnswer, "Рестарт ТРК не выполнен: нет ответа");
    }
    // The next command finds the controller listening: a restart ends when it answers again.
    if (!ctx.store->IsDemo() && !AwaitRestarted(*ctx.store))
        return Fail(kExitNoAnswer, "Рестарт ТРК выполнен, но контроллер не ответил после него");
    std::cout << "Рестарт ТРК выполнен.\n";
    return kExitOk;
}

const char* kSimulatorUsage = "simulator [on|off]   (без аргумента - показать состояние)";
int Simulator(Context& ctx, const std::vector<std::string>& args) {
    if (ctx.store && ctx.store->IsDemo()) return NotInDemo("simulator");
    if (args.size() > 1) return Usage(kSimulatorUsage);
    int state = 0;
    if (args.empty()) {
        state = GetPulseSimulator(ctx.slot, ctx.ctrl);
        if (state < 0) return Fail(kExitNoAnswer, "Ошибка чтения имитатора");
    } else if (args[0] == "on" || args[0] == "off") {
        state = args[0] == "on" ? 1 : 0;
        if (SetPulseSimulator(ctx.slot, ctx.ctrl, state == 1) != 1)
            return Fail(kExitNoAnswer, "Имитатор не переключен: нет ответа");
    } else {
        return Usage(kSimulatorUsage);
    }
    std::cout << (state == 1 ? "Имитатор включен" : "Имитатор выключен") << '\n';
    return kExitOk;
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"identify", kIdentifyUsage, Identify}) &&
    RegisterCommand({"scan", kScanUsage, Scan}) && RegisterCommand({"sizes", kSizesUsage, Sizes}) &&
    RegisterCommand({"read", kReadUsage, Read}) && RegisterCommand({"write", kWriteUsage, Write}) &&
    RegisterCommand({"restart", kRestartUsage, Restart}) &&
    RegisterCommand({"simulator", kSimulatorUsage, Simulator});

} // namespace
} // namespace velmar::cli
