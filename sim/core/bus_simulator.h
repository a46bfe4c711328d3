// The controller simulator: one or several controllers on an emulated RS-485 bus behind a
// pseudo-terminal. Usable in-process (tests, benchmarks, the GUI's --simulate) and through the
// velmar-sim program.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmar::sim {

// Faults a test can inject; all off by default. Address-specific faults name a controller number.
struct Faults {
    bool noAnswer = false;             // nobody answers anything
    int dropReplies = 0;               // drop the next N replies entirely
    int corruptReplies = 0;            // flip a byte in the next N replies
    int truncateReplies = 0;           // send all but the last byte of the next N replies
    int writeStatusAddress = -1;       // writes to this memory address answer a nonzero status
    uint8_t writeStatus = 0x01;
    bool identWithoutZero = false;     // identification text sent without its zero byte
    bool wrongPollEcho = false;        // address poll answers with byte 1 != 0x21
    bool noIdentAnswer = false;        // answers the poll but not the identification request
    int extraReplyBytes = 0;           // append this many stray bytes to each reply
};

// One controller's memory and identity.
class Controller {
public:
    // A realistic, internally consistent controller answering at `address` (side A).
    static std::unique_ptr<Controller> MakeDefault(int address);
    // Memory taken from a saved device image; nullptr with `error` set when the file is bad.
    static std::unique_ptr<Controller> FromImageFile(const std::string& path, std::string& error);

    // Memory spaces 0 (ER), 2 (IR), 4 (IM), each 64 KiB.
    std::vector<uint8_t>& Space(int space);
    const std::vector<uint8_t>& Space(int space) const;

    int SideAAddress() const;  // from the parameter block (as of the last restart)
    int SideBAddress() const;  // -1 when the controller serves one side
    uint32_t LineBaud() const; // the line speed it listens at (from the parameter block)
    std::string identText;     // code page 866 bytes, sent with a trailing zero
    int restarts = 0;          // restarts seen
};

struct Options {
    std::vector<int> addresses{1}; // one default controller per number
    std::string imageFile;         // when set, the first controller's memory comes from it
    uint32_t emulateBaud = 0;      // 0: no line-time emulation; else 10 bits per byte at this rate
    bool checkBaud = true;         // ignore bytes sent at another speed than the controller's
};

class BusSimulator {
public:
    explicit BusSimulator(Options options = {});
    ~BusSimulator();
    BusSimulator(const BusSimulator&) = delete;
    BusSimulator& operator=(const BusSimulator&) = delete;

    // Opens the pseudo-terminal and starts serving; 0 or an errno value.
    int Start();
    void Stop();
    // The slave device path (e.g. /dev/pts/3) to open as the tool's port.
    std::string SlavePath() const;
    // Makes a symlink at `path` pointing to the slave; 0 or errno.
    int MakeLink(const std::string& path);

    // Controllers on the bus; guard access with Lock() while the bus runs.
    std::vector<std::unique_ptr<Controller>>& Controllers();
    Controller* Find(int address);
    std::unique_lock<std::mutex> Lock();
    Faults& GetFaults(); // change under Lock()

    // Counters for tests.
    uint64_t FramesSeen() const;
    uint64_t BytesIgnoredForBaud() const;
};

} // namespace velmar::sim
