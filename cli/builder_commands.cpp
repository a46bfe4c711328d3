// Commands built on whole sets of records: the parameter report, the fiscal totaliser listing
// and the factory default image.
#include "cli/cli_command.h"
#include "cli/terminal_progress.h"
#include "data/default_image.h"
#include "data/fiscal_listing.h"
#include "data/report.h"
#include "data/setup_addresses.h"
#include "protocol/ctrlr_protocol.h"

#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

constexpr const char* kReportUsage = "report [--extended]   отчет о параметрах контроллера";
constexpr const char* kFiscalUsage = "fiscal                фискальные сумматоры всех рукавов";
constexpr const char* kDefaultsUsage =
    "defaults shelf|nara [--sides N] [--nozzles N] [--side-addresses A,B] "
    "[--nara-addresses L]   записать заводские установки";

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

int Report(Context& ctx, const std::vector<std::string>& args) {
    bool extended = false;
    for (const std::string& a : args) {
        if (a != "--extended") return Usage(kReportUsage);
        extended = true;
    }
    if (!ctx.store->IsDemo() && ctx.ctrl == kReserveAddress) {
        // The report names the controller by its own number, which the reserve address does not
        // tell: ask for it as identification does, and go on at that number.
        if (const int polled = PollController(ctx); polled != kExitOk) return polled;
    }
    DeviceBuffer buffer;
    int failed = 0;
    {
        TerminalProgress bar("Чтение параметров");
        failed = FillReportBuffer(*ctx.store, buffer, bar.Callback());
    }
    std::cout << JoinLines(ReportLines(buffer, ctx.ctrl, extended));
    PrintRetriedRequests(ctx);
    if (failed > 0) {
        return Fail(kExitNoAnswer, "Ошибка чтения: не считано записей - " + std::to_string(failed) +
                                       ", их значения в отчете равны 0");
    }
    return kExitOk;
}

int Fiscal(Context& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return Usage(kFiscalUsage);
    if (ctx.store->IsDemo()) {
        std::cout << kFiscalDemoText << '\n';
        return kExitOk;
    }
    std::vector<std::string> lines;
    if (ReadFiscalLines(*ctx.store, lines) != FiscalListResult::Listed)
        return Fail(kExitNoAnswer, kFiscalReadFailedText);
    std::cout << JoinLines(lines);
    return kExitOk;
}

// A count option: a whole decimal number in [low, high].
bool ParseCount(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

int Defaults(Context& ctx, const std::vector<std::string>& args) {
    if (args.empty()) return Usage(kDefaultsUsage);
    DefaultPreset preset = DefaultPreset::Shelf;
    if (args[0] == "shelf") {
        preset = DefaultPreset::Shelf;
    } else if (args[0] == "nara") {
        preset = DefaultPreset::Nara;
    } else {
        return Usage(kDefaultsUsage);
    }

    DefaultTopology topology;
    std::string sideText;
    std::string naraText;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) return Usage(kDefaultsUsage);
        const std::string& v = args[++i];
        if (a == "--sides") {
            if (!ParseCount(v, 1, 2, topology.sides))
                return Fail(kExitUsage, "Количество сторон должно быть 1 или 2");
        } else if (a == "--nozzles") {
            if (!ParseCount(v, 1, 8, topology.nozzles))
                return Fail(kExitUsage, "Количество РК на сторону должно быть от 1 до 8");
        } else if (a == "--side-addresses") {
            sideText = v;
        } else if (a == "--nara-addresses") {
            naraText = v;
        } else {
            return Usage(kDefaultsUsage);
        }
    }
    if (!sideText.empty()) {
        const AddressListParse list = ParseAddressList(sideText, topology.sides);
        if (!list.valid) {
            return Fail(kExitUsage, "Неверные адреса сторон: \"" + sideText + "\" (нужно " +
                                        std::to_string(topology.sides) +
                                        " разных числа 1..255 через запятую)");
        }
        topology.sideA = list.values[0];
        if (topology.sides == 2) topology.sideB = list.values[1];
    }
    if (!naraText.empty()) {
        const int count = topology.sides * topology.nozzles;
        const AddressListParse list = ParseAddressList(naraText, count);
        if (!list.valid) {
            return Fail(kExitUsage, "Неверные адреса раздаточных кранов: \"" + naraText +
                                        "\" (нужно " + std::to_string(count) +
                                        " разных чисел 1..255 через запятую)");
        }
        topology.naraAddresses = list.values;
    }
    const TopologyCheck check = CheckDefaultTopology(topology);
    if (check != TopologyCheck::Ok) return Fail(kExitUsage, DefaultTopologyErrorText(check));

    if (!ctx.store->IsDemo()) {
        // Nobody answering would only make every one of the 36 writes wait for its timeout.
        const StoreResult answer = DefaultsDeviceCheck(*ctx.store);
        if (!answer.Ok()) return Fail(kExitNoAnswer, "Нет связи с устройством");
        if (answer.Length() == 0) return Fail(kExitNoAnswer, kDefaultsUnsupportedText);
    }

    if (const int code = CheckJournal(ctx); code != kExitOk) return code;
    const DeviceBuffer image = BuildDefaultImage(preset, topology);
    const DefaultsWriteResult result =
        WriteDefaultImage(*ctx.store, image, ctx.ctrl, ReplaceDemoFile(*ctx.store));
    for (const std::string& message : result.messages) std::cerr << message << '\n';
    if (ctx.store->IsDemo()) {
        if (!result.Written()) return Fail(kExitFile, "Демо-образ " + ctx.demoFile + " не записан");
        std::cout << "Заводские установки записаны в демо-образ " << ctx.demoFile << '\n';
        return kExitOk;
    }
    if (!result.restartSent) std::cerr << "Контроллер не ответил на команду перезапуска\n";
    if (result.addressChanged) std::cout << "Работа с Адресом №" << ctx.ctrl << '\n';
    if (!result.Written()) {
        return Fail(kExitNoAnswer,
                    WithJournalReason(ctx, "Заводские установки записаны не полностью: ошибок "
                                           "записи - " +
                                               std::to_string(result.failedSteps)));
    }
    std::cout << "Заводские установки записаны в контроллер\n";
    return kExitOk;
}

[[maybe_unused]] const bool kRegistered = RegisterCommand({"report", kReportUsage, Report}) &&
                                          RegisterCommand({"fiscal", kFiscalUsage, Fiscal}) &&
                                          RegisterCommand({"defaults", kDefaultsUsage, Defaults});

} // namespace
} // namespace velmar::cli
