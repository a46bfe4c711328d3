// velmar-cli commands: each source file registers its commands; main parses the options, opens
// the port (or the demo image) and dispatches.
#pragma once

#include "data/journal_store.h"
#include "data/record_store.h"
#include "link/serial_port.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmar::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoAnswer = 1; // the controller did not answer or refused
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFile = 3;
// The writes were made, but the outcome of one could not be entered in the journal: the journal
// shows it as unknown (a success with a warning).
inline constexpr int kExitJournalIncomplete = 4;

struct Context {
    std::string portName = "COM1";
    uint32_t baud = 4800;
    uint8_t dataBits = 8;
    char parity = 'N';
    uint8_t stopBits = 1;
    int ctrl = 1;          // controller number (240 with --reserve)
    bool reserve = false;  // --reserve: also the searches of a range include 240
    bool thorough = false; // --thorough: every search poll waits the full budget
    bool log = false;
    // --retries and --net-allowance: set on the line once it is open (else its defaults).
    std::optional<int> readRetries;
    std::optional<int> networkAllowanceMs;
    bool quiet = false; // -q: no closing count of retried requests
    bool json = false;  // machine-readable results on stdout (messages stay on stderr)
    bool demo = false;
    std::string demoFile = "demo_trk.bin";
    PortSlot slot = 0; // open port, when not in demo mode
    // --journal FILE, in the order given: the first takes the entries of this run's writes, all
    // are read by `changes`. Empty: the default journal (JournalPath).
    std::vector<std::string> journals;
    std::string programDir;                 // the folder of the running program
    std::string commandName;                // for the journal's operation text
    std::unique_ptr<RecordStore> lineStore; // the controller on the line, behind `store`
    std::unique_ptr<RecordStore> store;     // live controller (journaled) or demo image
    JournalStore* journal = nullptr;        // `store` while it journals the line's writes
};

// The journal this run writes to: the first --journal, else the default place.
std::string JournalPath(const Context& ctx);
// Before a write: kExitOk when the journal can take its entries (or the store is no controller);
// else kExitFile, with the reason reported. No write goes unrecorded.
int CheckJournal(Context& ctx);
// Before the journal's reason for refusing a write: the line was not touched.
inline constexpr const char* kJournalRefusal = "запись не начата, журнал изменений ее не принял: ";
// `text`, with why the journal refused the last write when it did.
std::string WithJournalReason(const Context& ctx, const std::string& text);

struct Command {
    const char* name;
    const char* usage; // one line for --help
    int (*run)(Context& ctx, const std::vector<std::string>& args);
};

// Registers a command; call from a static initialiser in the command's source file.
bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();
// A command that, with some arguments, works on files alone: then no port is opened for it.
using OfflineTest = bool (*)(const std::vector<std::string>& args);
bool RegisterOffline(const char* name, OfflineTest test);
bool RunsOffline(const std::string& name, const std::vector<std::string>& args);

// Prints one line on stderr (UTF-8) and returns `code`.
int Fail(int code, const std::string& message);
// The message of the latest Fail, or empty.
const std::string& LastFailure();

// At the end of a command that reads much from the line: how many read requests had to be
// repeated (on stderr, so that the command's own output stays clean); nothing with -q or in
// demo mode.
void PrintRetriedRequests(const Context& ctx);
// One line on stderr for each controller met whose replies had to be confirmed by rereading
// (its trailing reply byte is not a checksum).
void PrintRereadNotes(const Context& ctx);
// The identification text (code page 1251) for the terminal: UTF-8 with plain line ends and a
// line end after the last line.
std::string IdentForTerminal(const char* text);
// The same without the last line end, for JSON and manifests.
std::string IdentText(const char* text);

// Why the line failed under the last exchange ("нет связи со шлюзом tcp:...: reason"), or empty
// while the port's device or connection is there.
std::string LinkLossText(const Context& ctx);

// Polls the controller at ctx.ctrl; at the reserve address ctx.ctrl becomes the number the
// controller reports. kExitOk, or the exit code of the failure (reported).
int PollController(Context& ctx);

// The demo image store for --demo (ctx.demoFile); nullptr with `exitCode` set (and the failure
// reported) when the image cannot be used.
std::unique_ptr<RecordStore> OpenDemoStore(Context& ctx, int& exitCode);

} // namespace velmar::cli
