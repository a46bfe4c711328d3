// The controller simulator: one or several controllers on an emulated RS-485 bus behind a
// pseudo-terminal. Usable in-process (tests, benchmarks, the GUI's --simulate) and through the
// velmar-sim program.
//
// How the simulated controller behaves where the protocol leaves it open:
// - Each controller listens with its own receiver at the line speed of its parameter block
//   (SpeedTrk 0..3 = 38400, 19200, 9600, 4800; other values 4800). Bytes the tool sends at
//   another speed are not heard and garble a frame under way.
// - It answers at its side-A address, at its side-B address when it serves two sides, and at the
//   reserve address 240. The poll reply names the number it was called by (side A at 240).
//   When several controllers answer one request their replies collide on the line: the tool
//   receives the bitwise AND of the replies, padded to the longest. Identical replies therefore
//   survive, different ones turn into garbage, as on a real bus.
// - Reads and writes of 1..64 bytes in spaces 0, 2 and 4 are served; other spaces and counts get
//   no answer. Read bytes above 0xFFFF are 0; a write reaching above 0xFFFF answers status 2.
// - Space 2: a write to 0x24 changes only the pulse-simulator bit; 0x25..0x27 hold the sensor
//   reading, and writes there set the display mode (0x25) or count relay tests (0x27, value 1).
// - Writing 0x01 at 0x88FFFF restarts the controller after its reply: addresses, sides and line
//   speed are taken again from the parameter block (even with a wrong checksum byte), and the
//   hose and side counts of the sizes record follow it. Other values there answer status 2.
//   Live registers keep their values over a restart.
// - Each controller replies after its own turnaround (`turnaroundMs`, 0 by default) counted from
//   the end of the request.
// - The trailing byte of a read reply is the checksum of its data bytes (unless the fault
//   trailerNotChecksum or trailerVaries makes it something else).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmar::sim {

class FrameReceiver;

// Faults a test can inject; all off by default. Address-specific faults name a controller number.
struct Faults {
    bool noAnswer = false;       // nobody answers anything
    int dropReplies = 0;         // drop the next N replies entirely
    int corruptReplies = 0;      // garble the next N replies (first and last byte)
    int truncateReplies = 0;     // send all but the last byte of the next N replies
    int writeStatusAddress = -1; // writes to this memory address answer a nonzero status
    uint8_t writeStatus = 0x01;
    bool identWithoutZero = false; // identification text sent without its zero byte
    bool wrongPollEcho = false;    // address poll answers with byte 1 != 0x21
    bool noIdentAnswer = false;    // answers the poll but not the identification request
    int extraReplyBytes = 0;       // append this many stray bytes to each reply
    // A restarted controller hears nothing, and so answers nothing, for this long (a restart
    // that takes seconds; up to 5 s is within what the tool allows for).
    int deafAfterRestartMs = 0;
    // This many restart writes (from now on; -1: every one) are refused: answered with status 2
    // and not carried out. Only those to the controller answering at `refuseRestartController`
    // when that is set (-1: any).
    int refuseRestart = 0;
    int refuseRestartController = -1;

    // Line noise on every reply, each kind at its own rate (0..1, drawn per reply) from a
    // pseudo-random sequence that starts again whenever `noiseSeed` changes.
    double flipRate = 0; // one bit of one byte inverted
    double lossRate = 0; // the whole reply lost
    double cutRate = 0;  // the reply ends one byte early
    double addRate = 0;  // one random byte inserted at a random place
    uint32_t noiseSeed = 1;
    // The trailing byte of a read reply is the plain sum of its data bytes, not the checksum.
    bool trailerNotChecksum = false;
    // The controller answering at this number leaves reads starting at this memory address
    // unanswered (a controller that fails half-way through an image read).
    int mutedReadController = -1;
    int mutedReadAddress = -1;

    // Real controllers that stay within the protocol yet differ from the default:
    // - the trailing byte of a read reply changes from reply to reply and is never the checksum
    //   (a counter or an unused byte), so equal data come with different trailers;
    bool trailerVaries = false;
    // - this many restart writes (from now on; -1: every one) are carried out but their status
    //   block is never sent;
    int loseRestartStatus = 0;
    // - each reply goes out in this many pieces (2 or more; fewer: whole) with a pause of
    //   `replyPieceGapMs` between them, as a controller that is busy between bytes does.
    int replyPieces = 0;
    int replyPieceGapMs = 0;
    // A byte of space ER that the controller increments after each request it answers, as a
    // totaliser counts during a delivery (-1: none).
    int countingAddress = -1;
};

// Line speeds of the speed index of the parameter block (SpeedTrk): 0..3.
inline constexpr uint32_t kSpeedIndexBaud[4] = {38400, 19200, 9600, 4800};
inline constexpr uint32_t kDefaultLineBaud = 4800; // also used for an out-of-range index
// The reserve address: every controller answers it.
inline constexpr int kReserveAddressByte = 240;

// One controller's memory and identity.
class Controller {
  public:
    // A realistic, internally consistent controller answering at `address` (side A): two sides
    // (side B at address + 1) with two hoses each.
    static std::unique_ptr<Controller> MakeDefault(int address);
    // The same with another topology: `sides` 1..2, `hosesPerSide` 1..8. With two sides, side B
    // answers at address + 1 (wrapping past 255, skipping 0 and 240).
    static std::unique_ptr<Controller> MakeDefault(int address, int sides, int hosesPerSide);
    // Memory taken from a saved device image; nullptr with `error` set when the file is bad.
    // The controller then answers at the addresses of the image's parameter block.
    static std::unique_ptr<Controller> FromImageFile(const std::string& path, std::string& error);
    // The same from bytes already in memory.
    static std::unique_ptr<Controller> FromImage(const std::vector<uint8_t>& image,
                                                 std::string& error);
    ~Controller();

    // Memory spaces 0 (ER), 2 (IR), 4 (IM), each 64 KiB. Any other space number throws
    // std::out_of_range (a test's programming error; the line side never asks for one).
    std::vector<uint8_t>& Space(int space);
    const std::vector<uint8_t>& Space(int space) const;

    int SideAAddress() const;   // from the parameter block (as of the last restart)
    int SideBAddress() const;   // -1 when the controller serves one side
    uint32_t LineBaud() const;  // the line speed it listens at (from the parameter block)
    std::string identText;      // code page 866 bytes, sent with a trailing zero
    int restarts = 0;           // restarts seen
    uint8_t trailerCounter = 0; // drives the varying trailing byte (Faults::trailerVaries)
    // How long it takes between the end of a request and the start of its reply. Real
    // controllers differ; any value up to the address poll's wait (120 ms) is within the rules.
    int turnaroundMs = 0;
    // This controller alone refuses (with Faults::writeStatus) a write covering this memory
    // address that would change what it holds there (-1: none), as a controller whose record is
    // sealed: it fails in the middle of a station-wide write, yet takes its own bytes back.
    int sealedAddress = -1;

    // Live values behind the write-only registers of space 2.
    uint8_t displayMode = 0; // last byte written at 0x25 (display board mode)
    int relayTests = 0;      // writes of 1 at 0x27 (heating relay test)

    // Does this controller answer frames carrying `lineAddress` (the low byte of a number)?
    bool AnswersAt(int lineAddress) const;
    // Takes addresses, sides and line speed from the parameter block as a restart does, and
    // brings the hose and side counts of the sizes record in line; counts a restart.
    void Restart();
    // Recomputes the parameter block's checksum byte (`Ksm`) after a test changed the block.
    void FixParamsChecksum();
    // The saved device image of this controller: 7-byte sizes record, then the records.
    std::vector<uint8_t> ImageBytes() const;
    // Writes ImageBytes() to `path` atomically; 0 or an errno value.
    int SaveImageFile(const std::string& path) const;

  private:
    Controller();
    void ApplyParams(); // reads addresses and speed from the parameter block

    std::vector<uint8_t> spaces_[3]; // 0, 2, 4
    int sideA_ = 1;
    int sideB_ = -1;
    uint32_t baud_ = kDefaultLineBaud;

    // Line state, owned by the bus.
    friend class BusSimulator;
    std::unique_ptr<FrameReceiver> receiver_;
    int64_t deafUntilNs_ = 0; // steady-clock time until which the controller hears nothing
};

struct Options {
    std::vector<int> addresses{1}; // one default controller per number
    std::string imageFile;         // when set, the first controller's memory comes from it
    uint32_t emulateBaud = 0;      // 0: no line-time emulation; else 10 bits per byte at this rate
    bool checkBaud = true;         // ignore bytes sent at another speed than the controller's
    int sides = 2;                 // topology of the default controllers
    int hosesPerSide = 2;
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
    // Makes a symlink at `path` pointing to the slave; 0 or errno. An existing symlink at `path`
    // is replaced; any other existing file gives EEXIST.
    int MakeLink(const std::string& path);

    // Controllers on the bus; guard access with Lock() while the bus runs.
    std::vector<std::unique_ptr<Controller>>& Controllers();
    Controller* Find(int address);
    std::unique_lock<std::mutex> Lock();
    Faults& GetFaults(); // change under Lock()

    // Counters for tests.
    uint64_t FramesSeen() const;          // valid command frames on the line, any address
    uint64_t BytesIgnoredForBaud() const; // bytes some controller could not hear (speed/format)
    uint64_t RepliesSent() const;         // replies put on the line (after faults)
    uint64_t Collisions() const;          // requests answered by more than one controller
    uint64_t NoisyReplies() const;        // replies the line noise of Faults changed or lost

    // Error text of the constructor (bad image file); empty when all is well. Start() fails with
    // EINVAL while it is set.
    const std::string& SetupError() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ChecksumRot8 of the protocol, kept here so the simulator stands alone.
uint8_t SimChecksum(const uint8_t* bytes, size_t count);

} // namespace velmar::sim
