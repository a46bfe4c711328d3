// velmar-sim: controllers on an emulated RS-485 line behind a pseudo-terminal.
//
// The first line printed is "PTY <slave path>" so that scripts can pick up the port; the program
// then serves until SIGINT or SIGTERM and removes its --link on the way out.
#include "sim/core/bus_simulator.h"
#include "sim/core/tcp_bridge.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using velmar::sim::BusSimulator;
using velmar::sim::Faults;
using velmar::sim::Options;

void Usage(std::FILE* to) {
    std::fputs(
        "usage: velmar-sim [options]\n"
        "  --address N[,N...]   controller numbers (side A), default 1\n"
        "  --sides N            sides of each default controller, 1 or 2 (default 2;\n"
        "                       side B answers at the number + 1)\n"
        "  --hoses N            hoses per side, 1..8 (default 2)\n"
        "  --image FILE         memory of the first controller from a saved device image;\n"
        "                       it answers at the image's addresses, not the first N\n"
        "  --baud B             emulate the line time at B baud (default: answer at once)\n"
        "  --no-baud-check      hear the tool whatever speed its port is set to\n"
        "  --turnaround [N=]MS  the controller answering at N (side A; without N: every\n"
        "                       controller) replies MS milliseconds after a request\n"
        "                       ends (0..1000; the address poll waits 120); repeatable\n"
        "  --link PATH          symlink PATH to the pseudo-terminal (replaces a symlink)\n"
        "  --tcp PORT           also serve the line on 127.0.0.1:PORT, as a serial device\n"
        "                       server does (0: any free port; printed as TCP ADDR:PORT)\n"
        "  --fault F            inject a fault; repeatable:\n"
        "                       no-answer, drop=N, corrupt=N, truncate=N, extra=N,\n"
        "                       write-status=ADDR[:STATUS], ident-no-zero, wrong-echo,\n"
        "                       no-ident, deaf-after-restart=MS (a restarted controller\n"
        "                       hears and answers nothing for MS),\n"
        "                       line noise on every reply at a rate 0..1: flip-rate=R\n"
        "                       (one bit), loss-rate=R, cut-rate=R (last byte missing),\n"
        "                       add-rate=R (one byte inserted), seed=N for the noise,\n"
        "                       no-checksum (trailing byte of a read reply is a plain sum),\n"
        "                       varying-trailer (trailing byte changes with each reply),\n"
        "                       lose-restart-status[=N] (the next N restarts, or every one,\n"
        "                       carried out without their status),\n"
        "                       refuse-restart[=N] (the next N restarts, or every one,\n"
        "                       answered with status 2 and not carried out),\n"
        "                       refuse-restart-at=NUMBER (only the controller answering\n"
        "                       at NUMBER refuses),\n"
        "                       pieces=N:MS (each reply in N pieces, MS apart)\n"
        "  --help               this text\n",
        to);
}

bool ParseNumber(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

bool ParseRate(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && out >= 0.0 && out <= 1.0;
}

bool ParseAddresses(const std::string& text, std::vector<int>& out) {
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long v = 0;
        if (!ParseNumber(item, v) || v < 1 || v > 255 || v == velmar::sim::kReserveAddressByte)
            return false;
        out.push_back(static_cast<int>(v));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !out.empty();
}

// "N=MS" or "MS": one controller's turnaround, or every controller's (number -1).
bool ParseTurnaround(const std::string& text, std::vector<std::pair<int, int>>& out) {
    const size_t eq = text.find('=');
    long number = -1;
    long ms = 0;
    if (eq != std::string::npos &&
        (!ParseNumber(text.substr(0, eq), number) || number < 1 || number > 255))
        return false;
    if (!ParseNumber(eq == std::string::npos ? text : text.substr(eq + 1), ms) || ms < 0 ||
        ms > 1000)
        return false;
    out.emplace_back(static_cast<int>(number), static_cast<int>(ms));
    return true;
}

bool ParseFault(const std::string& option, Faults& f) {
    const size_t eq = option.find('=');
    const std::string name = option.substr(0, eq);
    const std::string arg = eq == std::string::npos ? "" : option.substr(eq + 1);
    long v = 0;
    if (name == "no-answer" && arg.empty()) {
        f.noAnswer = true;
    } else if (name == "ident-no-zero" && arg.empty()) {
        f.identWithoutZero = true;
    } else if (name == "wrong-echo" && arg.empty()) {
        f.wrongPollEcho = true;
    } else if (name == "no-ident" && arg.empty()) {
        f.noIdentAnswer = true;
    } else if (name == "no-checksum" && arg.empty()) {
        f.trailerNotChecksum = true;
    } else if (name == "varying-trailer" && arg.empty()) {
        f.trailerVaries = true;
    } else if (name == "lose-restart-status" && arg.empty()) {
        f.loseRestartStatus = -1;
    } else if (name == "lose-restart-status" && ParseNumber(arg, v) && v >= 0 && v <= 1000) {
        f.loseRestartStatus = static_cast<int>(v);
    } else if (name == "refuse-restart" && arg.empty()) {
        f.refuseRestart = -1;
    } else if (name == "refuse-restart" && ParseNumber(arg, v) && v >= 0 && v <= 1000) {
        f.refuseRestart = static_cast<int>(v);
    } else if (name == "refuse-restart-at" && ParseNumber(arg, v) && v >= 1 && v <= 255) {
        f.refuseRestartController = static_cast<int>(v);
    } else if (name == "pieces") {
        const size_t colon = arg.find(':');
        long gap = 0;
        if (colon == std::string::npos || !ParseNumber(arg.substr(0, colon), v) || v < 2 ||
            v > 64 || !ParseNumber(arg.substr(colon + 1), gap) || gap < 0 || gap > 10000)
            return false;
        f.replyPieces = static_cast<int>(v);
        f.replyPieceGapMs = static_cast<int>(gap);
    } else if (name == "flip-rate") {
        return ParseRate(arg, f.flipRate);
    } else if (name == "loss-rate") {
        return ParseRate(arg, f.lossRate);
    } else if (name == "cut-rate") {
        return ParseRate(arg, f.cutRate);
    } else if (name == "add-rate") {
        return ParseRate(arg, f.addRate);
    } else if (name == "seed" && ParseNumber(arg, v) && v >= 0 && v <= 0xFFFFFFFFL) {
        f.noiseSeed = static_cast<uint32_t>(v);
    } else if (name == "drop" && ParseNumber(arg, v) && v >= 0) {
        f.dropReplies = static_cast<int>(v);
    } else if (name == "corrupt" && ParseNumber(arg, v) && v >= 0) {
        f.corruptReplies = static_cast<int>(v);
    } else if (name == "truncate" && ParseNumber(arg, v) && v >= 0) {
        f.truncateReplies = static_cast<int>(v);
    } else if (name == "extra" && ParseNumber(arg, v) && v >= 0 && v <= 1024) {
        f.extraReplyBytes = static_cast<int>(v);
    } else if (name == "deaf-after-restart" && ParseNumber(arg, v) && v >= 0 && v <= 60000) {
        f.deafAfterRestartMs = static_cast<int>(v);
    } else if (name == "write-status") {
        const size_t colon = arg.find(':');
        long status = 1;
        if (!ParseNumber(arg.substr(0, colon), v) || v < 0 || v > 0xFFFFFF) return false;
        if (colon != std::string::npos &&
            (!ParseNumber(arg.substr(colon + 1), status) || status < 1 || status > 255))
            return false;
        f.writeStatusAddress = static_cast<int>(v);
        f.writeStatus = static_cast<uint8_t>(status);
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    Faults faults;
    std::string link;
    long tcpPort = -1;
    std::vector<std::pair<int, int>> turnarounds; // side-A number (-1: all) -> ms
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        long n = 0;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--address") {
            ok = value(v) && ParseAddresses(v, options.addresses);
        } else if (arg == "--sides") {
            ok = value(v) && ParseNumber(v, n) && n >= 1 && n <= 2;
            options.sides = static_cast<int>(n);
        } else if (arg == "--hoses") {
            ok = value(v) && ParseNumber(v, n) && n >= 1 && n <= 8;
            options.hosesPerSide = static_cast<int>(n);
        } else if (arg == "--image") {
            ok = value(options.imageFile) && !options.imageFile.empty();
        } else if (arg == "--baud") {
            ok = value(v) && ParseNumber(v, n) && n >= 50 && n <= 4000000;
            options.emulateBaud = static_cast<uint32_t>(n);
        } else if (arg == "--no-baud-check") {
            options.checkBaud = false;
        } else if (arg == "--turnaround") {
            ok = value(v) && ParseTurnaround(v, turnarounds);
        } else if (arg == "--link") {
            ok = value(link) && !link.empty();
        } else if (arg == "--tcp") {
            ok = value(v) && ParseNumber(v, tcpPort) && tcpPort >= 0 && tcpPort <= 65535;
        } else if (arg == "--fault") {
            ok = value(v) && ParseFault(v, faults);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "velmar-sim: bad argument: %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Signals are taken by sigwait below; block them before the service thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BusSimulator bus(options);
    if (!bus.SetupError().empty()) {
        std::fprintf(stderr, "velmar-sim: %s\n", bus.SetupError().c_str());
        return 1;
    }
    bus.GetFaults() = faults;
    for (const auto& [number, ms] : turnarounds) {
        bool known = number < 0;
        for (const auto& c : bus.Controllers()) {
            if (number >= 0 && c->SideAAddress() != number) continue;
            c->turnaroundMs = ms;
            known = true;
        }
        if (!known) {
            std::fprintf(stderr, "velmar-sim: --turnaround: no controller answers at %d\n", number);
            return 2;
        }
    }
    if (const int err = bus.Start(); err != 0) {
        std::fprintf(stderr, "velmar-sim: cannot open a pseudo-terminal: %s\n", std::strerror(err));
        return 1;
    }
    std::printf("PTY %s\n", bus.SlavePath().c_str());
    std::fflush(stdout);
    if (!link.empty()) {
        if (const int err = bus.MakeLink(link); err != 0) {
            std::fprintf(stderr, "velmar-sim: cannot make the link %s: %s\n", link.c_str(),
                         std::strerror(err));
            return 1;
        }
        std::printf("LINK %s\n", link.c_str());
    }
    velmar::sim::TcpBridge bridge;
    if (tcpPort >= 0) {
        if (const int err = bridge.Start(bus.SlavePath(), static_cast<uint16_t>(tcpPort));
            err != 0) {
            std::fprintf(stderr, "velmar-sim: cannot serve TCP port %ld: %s\n", tcpPort,
                         std::strerror(err));
            return 1;
        }
        std::printf("TCP 127.0.0.1:%u\n", bridge.Port());
    }
    {
        auto lock = bus.Lock();
        for (const auto& c : bus.Controllers()) {
            std::printf("CONTROLLER side A %d", c->SideAAddress());
            if (c->SideBAddress() >= 0) std::printf(", side B %d", c->SideBAddress());
            std::printf(", line %u baud", c->LineBaud());
            if (c->turnaroundMs > 0) std::printf(", turnaround %d ms", c->turnaroundMs);
            std::printf("\n");
        }
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    bridge.Stop();
    bus.Stop(); // also removes the link
    return 0;
}
