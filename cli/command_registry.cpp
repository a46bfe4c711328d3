#include "cli/cli_command.h"
#include "protocol/read_retry.h"

#include <iostream>
#include <utility>

namespace velmar::cli {

namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

std::vector<std::pair<std::string, OfflineTest>>& OfflineTests() {
    static std::vector<std::pair<std::string, OfflineTest>> tests;
    return tests;
}

} // namespace

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<Command>& Commands() {
    return Registry();
}

bool RegisterOffline(const char* name, OfflineTest test) {
    OfflineTests().emplace_back(name, test);
    return true;
}

bool RunsOffline(const std::string& name, const std::vector<std::string>& args) {
    for (const auto& [command, test] : OfflineTests())
        if (command == name && test(args)) return true;
    return false;
}

std::string& LastFailureText() {
    static std::string text;
    return text;
}

int Fail(int code, const std::string& message) {
    LastFailureText() = message;
    std::cout.flush();
    std::cerr << message << '\n';
    std::cerr.flush();
    return code;
}

const std::string& LastFailure() {
    return LastFailureText();
}

void PrintRetriedRequests(const Context& ctx) {
    if (ctx.quiet || ctx.demo) return;
    std::cout.flush();
    std::cerr << "Повторных запросов: " << RetriedRequests(ctx.slot) << '\n';
}

void PrintRereadNotes(const Context& ctx) {
    const std::vector<int> numbers = ControllersConfirmedByRereading(ctx.slot);
    if (numbers.empty()) return;
    std::cout.flush();
    for (const int n : numbers) {
        std::cerr << "Трк №" << n
                  << ": последний байт ответа - не контрольная сумма; каждый ответ подтвержден "
                     "повторным чтением\n";
    }
}

} // namespace velmar::cli
