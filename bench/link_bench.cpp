// How close the memory transactions come to the line's own speed. Against the in-process
// controller simulator emulating the line time (10 bits a byte) at 38400 and 4800 baud, it
//   (a) reads every record a device image save reads, in the save's order, and
//   (b) writes a 58-byte block,
// and prints for each the wall time, the line-time minimum of the bytes exchanged (plus the
// pauses the controller needs before data frames) and their ratio. The image save reads are
// also timed through Debian's ser2net in telnet(rfc2217) mode (port kind rfc2217:), which opens
// the line at 4800 and is set to the bench's speed by the tool, when ser2net is installed.
//
// Usage: link_bench [RUNS]   (median of RUNS runs, 3 by default)
#include "data/memory_map.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/timeouts.h"
#include "sim/core/bus_simulator.h"
#include "tests/cli/ser2net_gateway.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace velmar;
using Clock = std::chrono::steady_clock;

constexpr int kCtrl = 1;

struct Figures {
    double wallMs = 0;
    long lineBytes = 0; // bytes on the line, both directions
    int pauses = 0;     // data-frame pauses
    bool ok = true;
};

// Bytes a read of `length` puts on the line: per chunk a command frame, a header and the reply
// (data plus its trailing byte).
long ReadLineBytes(int length) {
    long bytes = 0;
    for (int left = length; left > 0; left -= kMaxChunk)
        bytes += 4 + 8 + std::min(left, kMaxChunk) + 1;
    return bytes;
}

// The same for a write: command, header, data frame (n bytes for n >= 2), status block.
long WriteLineBytes(int length, int& pauses) {
    long bytes = 0;
    for (int left = length; left > 0; left -= kMaxChunk) {
        const int chunk = std::min(left, kMaxChunk);
        bytes += 4 + 8 + (chunk >= 2 ? chunk : 0) + (chunk == 1 ? 2 : 1);
        if (chunk >= 2) ++pauses;
    }
    return bytes;
}

// Reads what saving a device image reads, in the same order.
Figures ImageSaveReads(PortSlot slot) {
    Figures f;
    std::vector<uint8_t> buf(512);
    auto read = [&](int address, int length) {
        if (length <= 0) return;
        if (ReadCtrlrMem(slot, kCtrl, address, length, buf.data(), kSpaceER) != length)
            f.ok = false;
        f.lineBytes += ReadLineBytes(length);
    };
    const auto start = Clock::now();
    uint8_t sizeBytes[len::kSizes];
    if (ReadStructSizes(slot, kCtrl, sizeBytes) != 1) f.ok = false;
    f.lineBytes += ReadLineBytes(len::kSizes);
    SizesRecord s;
    s.SetFromBytes(sizeBytes);
    read(addr::kParams, s.paramsLength);
    for (int ch = 0; ch < kChannelCount; ++ch)
        read(ChannelAddress(addr::kChannelSettsBase, ch), s.settsLength);
    read(addr::kOptionalA, s.optionalLength);
    read(addr::kOptionalB, s.optionalLength);
    read(addr::kSideStateA, s.sideStateLength);
    read(addr::kSideStateB, s.sideStateLength);
    for (int ch = 0; ch < kChannelCount; ++ch)
        read(ChannelAddress(addr::kChannelRegsBase, ch), s.regsLength);
    read(addr::kMakeBlock, len::kMakeBlockImage);
    read(addr::kBlock3000, len::kBlock3000);
    f.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return f;
}

// Writes a 58-byte block (the parameter block's size) into free memory.
Figures Write58(PortSlot slot) {
    Figures f;
    std::vector<uint8_t> data(58);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
    const auto start = Clock::now();
    if (WriteCtrlrMem(slot, kCtrl, 0x6000, 58, data.data(), kSpaceER) != 1) f.ok = false;
    f.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    f.lineBytes = WriteLineBytes(58, f.pauses);
    return f;
}

Figures Median(std::vector<Figures> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Figures& a, const Figures& b) { return a.wallMs < b.wallMs; });
    Figures m = runs[runs.size() / 2];
    for (const auto& r : runs) m.ok = m.ok && r.ok;
    return m;
}

void Print(uint32_t baud, const char* what, const Figures& f) {
    const double lineMs = static_cast<double>(f.lineBytes) * 10.0 * 1000.0 / baud +
                          f.pauses * static_cast<double>(kDataFramePauseMs);
    std::printf("%6u  %-28s %6ld %4d %10.1f %10.1f %7.3f%s\n", static_cast<unsigned>(baud), what,
                f.lineBytes, f.pauses, f.wallMs, lineMs, f.wallMs / lineMs,
                f.ok ? "" : "  (exchange FAILED)");
}

constexpr uint32_t kGatewayOwnBaud = 4800; // where ser2net opens the line on each connection

int Bench(uint32_t baud, int runs) {
    sim::Options options;
    options.emulateBaud = baud;
    options.checkBaud = false; // the controller's configured speed is not the point here
    sim::BusSimulator bus(options);
    if (const int rc = bus.Start(); rc != 0) {
        std::fprintf(stderr, "simulator did not start (errno %d)\n", rc);
        return 1;
    }
    PortSlot slot = 0;
    if (OpenPort(slot, bus.SlavePath().c_str()) != 0 || ConfigurePort(slot, baud, 8, 'N', 1) != 0) {
        std::fprintf(stderr, "cannot open %s\n", bus.SlavePath().c_str());
        return 1;
    }
    std::vector<Figures> reads, writes;
    for (int i = 0; i < runs; ++i) reads.push_back(ImageSaveReads(slot));
    for (int i = 0; i < runs; ++i) writes.push_back(Write58(slot));
    Print(baud, "image save reads", Median(reads));
    Print(baud, "58-byte write", Median(writes));
    ClosePort(slot);
    bool ok = Median(reads).ok && Median(writes).ok;

    if (test::Ser2NetGateway::Program().empty()) {
        std::printf("%6u  image save reads (rfc2217)   skipped: ser2net is not installed\n",
                    static_cast<unsigned>(baud));
    } else {
        test::Ser2NetGateway gateway;
        const std::string name = "rfc2217:127.0.0.1:";
        if (!gateway.Start(bus.SlavePath(), kGatewayOwnBaud, test::Ser2NetGateway::Mode::Rfc2217,
                           "/dev/null")) {
            std::fprintf(stderr, "ser2net did not start\n");
            return 1;
        }
        const std::string port = name + std::to_string(gateway.Port());
        if (OpenPort(slot, port.c_str()) != 0 || ConfigurePort(slot, baud, 8, 'N', 1) != 0) {
            std::fprintf(stderr, "cannot open %s\n", port.c_str());
            return 1;
        }
        std::vector<Figures> gatewayReads;
        for (int i = 0; i < runs; ++i) gatewayReads.push_back(ImageSaveReads(slot));
        Print(baud, "image save reads (rfc2217)", Median(gatewayReads));
        ClosePort(slot);
        ok = ok && Median(gatewayReads).ok;
    }
    bus.Stop();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    SetExchangeLogPath("/dev/null");
    StartPortLayer();
    std::printf("median of %d runs; line minimum = bytes x 10 bits / baud + data-frame pauses\n",
                runs);
    std::printf("%6s  %-28s %6s %4s %10s %10s %7s\n", "baud", "operation", "bytes", "paus",
                "wall ms", "line ms", "ratio");
    int status = 0;
    for (const uint32_t baud : {38400u, 4800u}) status |= Bench(baud, runs);
    StopPortLayer();
    return status;
}
