#include "cli/cli_command.h"

#include <iostream>

namespace velmar::cli {

namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

} // namespace

bool RegisterCommand(const Command& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<Command>& Commands() {
    return Registry();
}

int Fail(int code, const std::string& message) {
    std::cout.flush();
    std::cerr << message << '\n';
    std::cerr.flush();
    return code;
}

} // namespace velmar::cli
