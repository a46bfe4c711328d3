// Running the built velmar-cli from a test: in a working directory of the test's, with its
// output and messages caught in files there. Shared by every folder that tests the program.
#pragma once

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmar::test {

struct CliOutcome {
    int exitCode = -1; // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string SlurpFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `binary` with `args` in `workDir`.
inline CliOutcome RunCliProgram(const std::string& binary, const std::string& workDir,
                                const std::vector<std::string>& args) {
    const std::string outPath = workDir + "/stdout", errPath = workDir + "/stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(workDir.c_str()) != 0) _exit(126);
        const int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    CliOutcome r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = SlurpFile(outPath);
    r.err = SlurpFile(errPath);
    return r;
}

} // namespace velmar::test
