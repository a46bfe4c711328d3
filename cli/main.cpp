// velmar-cli: the command-line companion. Parses the options, opens the port (or the demo
// image) and runs one command.
#include "cli/backup_changes.h"
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/line_fleet.h"
#include "cli/terminal_progress.h"
#include "data/demo_place.h"
#include "data/journal_place.h"
#include "data/live_store.h"
#include "data/restart_wait.h"
#include "link/port_result.h"
#include "link/port_settings.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/read_retry.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

void PrintHelp() {
    std::cout << "Использование: velmar-cli [параметры] КОМАНДА [аргументы]\n\n"
                 "Параметры:\n"
                 "  -p, --port ИМЯ       порт (COM3, ttyUSB0, /dev/ttyUSB0, U_1234_1,\n"
                 "                       tcp:АДРЕС:ПОРТ, rfc2217:АДРЕС:ПОРТ ...); для scan,\n"
                 "                       backup и verify можно несколько: линии\n"
                 "                       опрашиваются одновременно\n"
                 "      --ports-file ФАЙЛ  порты линий, по одному в строке (# - комментарий)\n"
                 "      --jobs N         линий одновременно, 1..64 (по умолчанию 16)\n"
                 "  -b, --baud N         скорость (по умолчанию из com.ini, иначе 4800)\n"
                 "      --data-bits N    7 или 8\n"
                 "      --parity X       N, E, O, M, S или Z\n"
                 "      --stop-bits N    1 или 2\n"
                 "  -a, --address N      номер контроллера, десятичный или 0x.. (по умолчанию 1)\n"
                 "      --reserve        резервный канал (адрес 240); scan и backup\n"
                 "                       включают 240 в диапазон только с ним\n"
                 "      --thorough       поиск ждет каждый номер полное время опроса\n"
                 "      --log            журнал обмена port.out\n"
                 "      --retries N      повторы неудачного чтения, 0..10 (по умолчанию 2)\n"
                 "  -q, --quiet          без итога повторных запросов\n"
                 "      --demo [ФАЙЛ]    демонстрационный режим с образом (demo_trk.bin)\n"
                 "      --net-allowance МС  добавка к ожиданию ответа для сетевого порта (tcp:,\n"
                 "                       rfc2217:; по умолчанию 50)\n"
                 "      --journal ФАЙЛ   журнал изменений (по умолчанию velmar-journal.sqlite\n"
                 "                       рядом с прочими файлами программы); для changes\n"
                 "                       можно несколько\n"
                 "      --json           результаты identify, scan, sizes, read, backup, verify,\n"
                 "                       diff, profile, apply, check в формате JSON\n"
                 "  -h, --help           эта справка\n\n"
                 "Команды:\n";
    for (const Command& c : Commands()) std::cout << "  " << c.usage << '\n';
    std::cout << "\nПрофиль: текстовый файл полей «Подпись (Имя) = значение» по записям "
                 "([Параметры контроллера] ...);\n"
                 "  --metrological ПОЛЯ подтверждает метрологические поля, apply --dry-run "
                 "только показывает\n  изменения, --rollback возвращает копию контроллера, "
                 "на котором запись не удалась.\n";
    std::cout << "\nКоды завершения: 0 успех, 1 нет ответа или отказ, 2 неверный вызов, "
                 "3 ошибка файла,\n4 записано, но журнал изменений неполон (исход записи в нем "
                 "неизвестен).\n";
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

// Whole-string unsigned number: decimal, or hexadecimal with 0x.
std::optional<unsigned long> ParseNumber(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    int base = 10;
    std::string digits = text;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits = text.substr(2);
    }
    if (digits.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, base);
    if (errno != 0 || end == nullptr || *end != '\0') return std::nullopt;
    return value;
}

struct Given {
    bool port = false;
    bool baud = false;
    bool dataBits = false;
    bool parity = false;
    bool stopBits = false;
};

// Settings of the first line of "com.ini" in the working directory for what the command line
// leaves open; COM1 4800 8 N 1 when the file cannot be read.
void ApplyComIni(Context& ctx, const Given& given) {
    if (given.port && given.baud && given.dataBits && given.parity && given.stopBits) return;
    if (ReadPortSettings() != 1) {
        if (!given.port)
            std::cerr << "Ошибка чтения com.ini. Восстановлены параметры порта по умолчанию "
                         "(Com1 4800 8 1 N)\n";
        return;
    }
    const PortSettingsEntry& entry = PortSettingsTable()[0];
    if (!given.port) ctx.portName = entry.name;
    if (!given.baud) ctx.baud = entry.baud;
    if (!given.dataBits) ctx.dataBits = entry.dataBits;
    if (!given.parity) ctx.parity = entry.parity;
    if (!given.stopBits) ctx.stopBits = entry.stopBits;
}

std::string PortFailureText(const std::string& what, const std::string& name,
                            const PortResult& result) {
    std::string text = what + " " + name;
    if (!result.text.empty()) text += ": " + result.text;
    text += " (код " + std::to_string(result.Number()) + "). Проверьте настройки";
    return text;
}

// The folder of the running program (its link in /proc where there is one).
std::string ProgramDir(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path().string();
}

int Run(Context& ctx, int argc, char** argv) {
    Given given;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string commandName;
    std::vector<std::string> commandArgs;
    Fleet fleet;        // the lines of a multi-line run
    bool local = false; // the option is the multi-line run's own, not handed to line processes
    bool demoFileGiven = false;

    size_t i = 0;
    auto value = [&](const std::string& option, std::string& out) {
        const auto eq = args[i].find('=');
        if (args[i].rfind("--", 0) == 0 && eq != std::string::npos) {
            out = args[i].substr(eq + 1);
            return true;
        }
        if (i + 1 >= args.size()) {
            Fail(kExitUsage, "Параметру " + option + " нужно значение");
            return false;
        }
        out = args[++i];
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string key = a.substr(0, a.find('='));
        const size_t optionStart = i;
        local = false;
        std::string v;
        if (a == "-h" || a == "--help") {
            PrintHelp();
            return kExitOk;
        } else if (key == "-p" || key == "--port") {
            if (!value(key, v)) return kExitUsage;
            if (v.empty()) return Fail(kExitUsage, "Пустое имя порта");
            ctx.portName = v;
            given.port = true;
            fleet.ports.push_back(v);
            local = true;
        } else if (key == "--ports-file") {
            if (!value(key, v)) return kExitUsage;
            std::string error;
            if (!ReadPortsFile(v, fleet.ports, error)) return Fail(kExitUsage, error);
            fleet.fromFile = true;
            given.port = true;
            local = true;
        } else if (key == "--jobs") {
            if (!value(key, v)) return kExitUsage;
            const auto n = ParseNumber(v);
            if (!n || *n < 1 || *n > static_cast<unsigned long>(kMaxJobs))
                return Fail(kExitUsage, "Неверное число линий: " + v + " (1.." +
                                            std::to_string(kMaxJobs) + ")");
            fleet.jobs = static_cast<int>(*n);
            local = true;
        } else if (a == "--line-progress") {
            TerminalProgress::SetLineMode(true);
        } else if (a == "--thorough") {
            ctx.thorough = true;
        } else if (key == "-b" || key == "--baud") {
            if (!value(key, v)) return kExitUsage;
            const auto n = ParseNumber(v);
            if (!n || *n == 0 || *n > 4000000) return Fail(kExitUsage, "Неверная скорость: " + v);
            ctx.baud = static_cast<uint32_t>(*n);
            given.baud = true;
        } else if (key == "--data-bits") {
            if (!value(key, v)) return kExitUsage;
            if (v != "7" && v != "8") return Fail(kExitUsage, "Количество бит в посылке: 7 или 8");
            ctx.dataBits = static_cast<uint8_t>(v[0] - '0');
            given.dataBits = true;
        } else if (key == "--parity") {
            if (!value(key, v)) return kExitUsage;
            // Z is the old name of space parity, as in com.ini.
            const char p = v.size() == 1 ? static_cast<char>(std::toupper(v[0])) : '\0';
            if (p == '\0' || std::string("NEOMSZ").find(p) == std::string::npos)
                return Fail(kExitUsage, "Четность: N, E, O, M, S или Z");
            ctx.parity = p;
            given.parity = true;
        } else if (key == "--stop-bits") {
            if (!value(key, v)) return kExitUsage;
            if (v != "1" && v != "2") return Fail(kExitUsage, "Количество стоповых бит: 1 или 2");
            ctx.stopBits = static_cast<uint8_t>(v[0] - '0');
            given.stopBits = true;
        } else if (key == "-a" || key == "--address") {
            if (!value(key, v)) return kExitUsage;
            const auto n = ParseNumber(v);
            if (!n || *n == 0 || *n > 255)
                return Fail(kExitUsage, "Неверный номер контроллера: " + v + " (1..255)");
            ctx.ctrl = static_cast<int>(*n);
        } else if (a == "--reserve") {
            ctx.ctrl = kReserveAddress;
            ctx.reserve = true;
        } else if (a == "--log") {
            ctx.log = true;
        } else if (a == "-q" || a == "--quiet") {
            ctx.quiet = true;
        } else if (key == "--retries") {
            if (!value(key, v)) return kExitUsage;
            const auto n = ParseNumber(v);
            if (!n || *n > static_cast<unsigned long>(kMaxReadRetries))
                return Fail(kExitUsage, "Неверное число повторов: " + v + " (0.." +
                                            std::to_string(kMaxReadRetries) + ")");
            ctx.readRetries = static_cast<int>(*n);
        } else if (key == "--net-allowance") {
            if (!value(key, v)) return kExitUsage;
            const auto n = ParseNumber(v);
            if (!n || *n > 10000)
                return Fail(kExitUsage, "Неверная добавка для сети: " + v + " (0..10000 мс)");
            ctx.networkAllowanceMs = static_cast<int>(*n);
        } else if (key == "--journal") {
            if (!value(key, v)) return kExitUsage;
            if (v.empty()) return Fail(kExitUsage, "Пустое имя файла журнала");
            ctx.journals.push_back(v);
        } else if (a == "--json") {
            ctx.json = true;
            local = true;
        } else if (key == "--demo") {
            ctx.demo = true;
            demoFileGiven = true;
            if (a.find('=') != std::string::npos) {
                ctx.demoFile = a.substr(a.find('=') + 1);
            } else if (i + 1 < args.size() && args[i + 1][0] != '-' &&
                       FindCommand(args[i + 1]) == nullptr) {
                ctx.demoFile = args[++i];
            } else {
                demoFileGiven = false;
            }
            if (ctx.demoFile.empty()) return Fail(kExitUsage, "Пустое имя файла образа");
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail(kExitUsage, "Неизвестный параметр: " + a + " (velmar-cli --help)");
        } else {
            commandName = a;
            commandArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (!local)
            fleet.passOn.insert(fleet.passOn.end(),
                                args.begin() + static_cast<std::ptrdiff_t>(optionStart),
                                args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    if (commandName.empty()) return Fail(kExitUsage, "Не задана команда (velmar-cli --help)");
    const Command* command = FindCommand(commandName);
    if (command == nullptr)
        return Fail(kExitUsage, "Неизвестная команда: " + commandName + " (velmar-cli --help)");

    ctx.programDir = ProgramDir(argv[0]);
    ctx.commandName = commandName;
    if (RunsOffline(commandName, commandArgs)) return command->run(ctx, commandArgs);
    if (fleet.fromFile || fleet.ports.size() > 1) {
        if (ctx.demo)
            return Fail(kExitUsage, "Несколько линий недоступны в демонстрационном режиме");
        fleet.journals = JournalsRead(ctx.programDir, ctx.journals);
        return RunFleet(fleet, ctx.json, commandName, commandArgs);
    }

    int exitCode = kExitOk;
    if (ctx.demo) {
        // Without a file named, an installed program works on the user's copy of the installed
        // image, as the window does.
        if (!demoFileGiven) {
            const DemoPlace place = ChooseDemoPlace(ctx.programDir);
            if (const std::string error = PrepareDemoImage(place); !error.empty())
                return Fail(kExitFile, error);
            ctx.demoFile = place.image;
        }
        ctx.store = OpenDemoStore(ctx, exitCode);
        if (!ctx.store) return exitCode != kExitOk ? exitCode : kExitFile;
        return command->run(ctx, commandArgs);
    }

    ApplyComIni(ctx, given);
    StartPortLayer();
    if (ctx.log) SetLogMask(1);
    // A wait of seconds for a restarted controller is told, on the error stream (messages).
    SetRestartNotice([](const char* text) { std::cerr << text << std::endl; });
    const PortResult opened = OpenLine(ctx.slot, ctx.portName.c_str());
    if (!opened.Ok() || ctx.slot == 0) {
        StopPortLayer();
        return Fail(kExitNoAnswer, PortFailureText("Ошибка открытия порта", ctx.portName, opened));
    }
    // The line opened starts from the defaults: what the command line asks for is set on it.
    if (ctx.readRetries) SetReadRetries(ctx.slot, *ctx.readRetries);
    if (ctx.networkAllowanceMs) SetNetworkAllowanceMs(ctx.slot, *ctx.networkAllowanceMs);
    const PortResult configured =
        ConfigureLine(ctx.slot, {ctx.baud, ctx.dataBits, ctx.parity, ctx.stopBits});
    if (!configured.Ok()) {
        exitCode = Fail(kExitNoAnswer,
                        PortFailureText("Ошибка настройки порта", ctx.portName, configured));
    } else {
        ctx.lineStore = std::make_unique<LiveRecordStore>(ctx.slot, ctx.ctrl);
        JournalContext journal{CurrentJournalOrigin("velmar-cli"),
                               "velmar-cli " + commandName,
                               ctx.portName,
                               ctx.ctrl,
                               {}};
        auto store =
            std::make_unique<JournalStore>(*ctx.lineStore, JournalPath(ctx), std::move(journal));
        ctx.journal = store.get();
        ctx.store = std::move(store);
        exitCode = command->run(ctx, commandArgs);
        PrintRereadNotes(ctx);
        if (!ctx.journal->Incomplete().empty()) {
            std::cerr << "Внимание. " << ctx.journal->Incomplete() << '\n';
            if (exitCode == kExitOk) exitCode = kExitJournalIncomplete;
        }
    }
    ctx.journal = nullptr;
    ctx.store.reset();
    ctx.lineStore.reset();
    ClosePort(ctx.slot);
    StopPortLayer();
    return exitCode;
}

// With --json a command that failed before it printed its document prints the error as one: a
// script reading the output always gets exactly one document.
int EndJsonOutput(const Context& ctx, int code) {
    if (ctx.json && code != kExitOk && JsonDocumentsPrinted() == 0) {
        const std::string& message = LastFailure();
        PrintJson(
            {{"error", message.empty() ? "ошибка (код " + std::to_string(code) + ")" : message},
             {"exitCode", code}});
    }
    return code;
}

} // namespace

std::string JournalPath(const Context& ctx) {
    return ctx.journals.empty() ? DefaultJournalPath(ctx.programDir) : ctx.journals.front();
}

int CheckJournal(Context& ctx) {
    std::string error;
    if (ctx.journal == nullptr) return kExitOk;
    if (!ctx.journal->Ready(error)) return Fail(kExitFile, "Запись не начата: " + error);
    // The entries name the controller by its identification text too: one read before the
    // write (a controller that does not give it is entered without).
    JournalContext& context = ctx.journal->Context();
    if (context.ident.empty() && ctx.journal->Journaling()) {
        char text[kIdentTextSize] = {};
        if (ReadIdentText(ctx.slot, ctx.ctrl, text) == 1) context.ident = IdentText(text);
    }
    return kExitOk;
}

std::string WithJournalReason(const Context& ctx, const std::string& text) {
    if (ctx.journal == nullptr || ctx.journal->LastError().empty()) return text;
    return text + ": " + kJournalRefusal + ctx.journal->LastError();
}

} // namespace velmar::cli

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    // A file size limit (ulimit -f) must fail the write with EFBIG, which the atomic save reports
    // and cleans up after, instead of killing the program with its temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    velmar::cli::Context ctx;
    const int code = velmar::cli::Run(ctx, argc, argv);
    return velmar::cli::EndJsonOutput(ctx, code);
}
