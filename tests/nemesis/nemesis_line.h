// The line that tries to break the tool: one fault kind per row, drawn per reply (in the
// simulator) or per piece (in a serial device server between the tool and the line), and the
// share of commands each row must still see succeed.
#pragma once

#include "../cli/gateway_stand_in.h"
#include "sim/core/bus_simulator.h"
#include "sim/core/tcp_bridge.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace velmar::test {

using NemesisRng = std::mt19937;

inline int NemesisDraw(NemesisRng& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

enum class Step {
    ImageSave,
    ImageLoad,
    Report,
    SetParam,
    Renumber,
    WriteBytes,
    Defaults,
    Backup,
    Verify,
    SimulatorOn,
    SimulatorOff,
    Restart,
    ModelWrites,
};

// What a row does to the line before each command.
struct LineFaults {
    sim::Faults faults;
    int turnaroundMs = 0;    // the target's turnaround for this command
    int dropAfterBytes = -1; // the gateway drops the connection after this many bytes
};

struct NemesisRow {
    const char* name;
    // Commands that must succeed, in percent of those counted (see minRetries).
    int requiredPercent;
    // Only commands run with at least this many retries count towards the share: on a lossy
    // line a tool told not to retry cannot be asked to succeed.
    int minRetries;
    bool gateway; // through a serial device server stand-in (tcp) instead of the terminal
    std::function<void(LineFaults&, NemesisRng&)> line;
    std::function<void(GatewayStandIn&, NemesisRng&)> relay; // gateway rows: set once per run
    bool restartRefused = false; // commands that restart cannot succeed (nor count)
    // The journal is looked at as each write lands: it must already hold the command's entry.
    bool journalFirst = false;
    // Commands per run, in percent of VELMAR_NEMESIS_STEPS (a slow row runs fewer).
    int stepsPercent = 100;
    // The commands a run draws from (empty: all). A row whose fault only meets some commands
    // (restarts, say) draws those, so that even one run in the test command meets it.
    std::vector<Step> focus = {};
    // Each command once, in a seeded order, instead of a drawn sequence.
    bool tour = false;
};

const std::vector<NemesisRow>& NemesisRows();

// Rows that wait for a fix of the tool elsewhere: named here with the fix, skipped until it is
// in (the lead removes an entry when its fix is merged).
struct AwaitingFix {
    const char* row;
    const char* fix;
};
const std::vector<AwaitingFix>& NemesisAwaitingFix();

} // namespace velmar::test
