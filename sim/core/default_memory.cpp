#include "sim/core/default_memory.h"

#include "link/exchange_log.h"
#include "sim/core/bus_simulator.h"
#include "sim/core/controller_layout.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace velmar::sim {

namespace L = layout;

namespace {

void Put8(std::vector<uint8_t>& m, uint32_t at, unsigned v) {
    m[at] = static_cast<uint8_t>(v);
}
void Put16(std::vector<uint8_t>& m, uint32_t at, unsigned v) {
    Put8(m, at, v & 0xFF);
    Put8(m, at + 1, (v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& m, uint32_t at, uint32_t v) {
    Put16(m, at, v & 0xFFFF);
    Put16(m, at + 2, v >> 16);
}

// The thermistor the default table is computed for: 10 kOhm at 25 °C, B = 3950.
constexpr double kRn = 10.0;
constexpr double kB = 3950.0;
constexpr double kTn = 25.0;

unsigned ThermistorAdc(int celsius) {
    const double rt = kRn * std::exp(kB * (1.0 / (celsius + 273.0) - 1.0 / (kTn + 273.0)));
    return static_cast<unsigned>(1024.0 * kRn / (kRn + rt));
}

void FillParams(std::vector<uint8_t>& m, int address, int sideB, int sides, int hoses) {
    const uint32_t p = L::kParams;
    m[L::kParamsLength] = L::kParamsSize;
    Put8(m, p + L::kSpeedTrk, 3); // 4800 baud on both channels
    Put8(m, p + L::kSpeed2CnlTrk, 3);
    Put8(m, p + L::kAdrTrk1, static_cast<unsigned>(address));
    Put8(m, p + L::kAdrTrk2, sides == 2 ? static_cast<unsigned>(sideB) : 0);
    Put8(m, p + L::kCountNozTrk, static_cast<unsigned>(hoses));
    Put8(m, p + L::kCountSideTrk, static_cast<unsigned>(sides));
    const int used = hoses * sides;
    for (int i = 0; i < 16; ++i) Put8(m, p + 6 + i, i < used ? static_cast<unsigned>(i + 1) : 0);
    Put8(m, p + 22, 0);  // MeterType: 100 pulses per litre
    Put8(m, p + 23, 1);  // PhaseMet: both phases
    Put8(m, p + 24, 1);  // SlowStart: 100 ml
    Put8(m, p + 25, 3);  // SlowLoad: 300 ml
    Put8(m, p + 26, 30); // NozzleFat: 300 ml
    Put8(m, p + 27, 15); // MetTOut, s
    Put8(m, p + 28, 4);  // Imp_len
    Put8(m, p + 29, 3);  // NozzleWait, s
    Put16(m, p + 30, 0x1402);
    Put16(m, p + 32, 0x0020); // TrkModes2: mechanical counters
    Put8(m, p + 34, 3);       // TypeTbl: TBL-217
    for (int j = 0; j < 8; ++j) {
        unsigned a = 255, b = 255;
        if (sides == 1 && hoses == 2) {
            if (j == 0) a = 0, b = 1;
        } else if (j < hoses) {
            a = static_cast<unsigned>(j);
            b = sides == 2 ? static_cast<unsigned>(j + hoses) : 255;
        }
        Put8(m, p + 35 + 2 * static_cast<uint32_t>(j), a);
        Put8(m, p + 36 + 2 * static_cast<uint32_t>(j), b);
    }
    Put8(m, p + 51, static_cast<uint8_t>(-5)); // heating on at -5 °C
    Put8(m, p + 52, 5);                        // and off at +5 °C
    Put8(m, p + 53, 5);                        // MinSpeed, l/min
    Put8(m, p + 54, 30);                       // MinSpTime, s
    Put8(m, p + 55, 5);                        // HydroHit: 50 ml
    Put8(m, p + 56, 10);                       // PcTimeout, s
    m[p + L::kKsm] = SimChecksum(&m[p], L::kParamsSize - 1);
}

void FillChannels(std::vector<uint8_t>& m, int used) {
    for (int n = 0; n < L::kChannels; ++n) {
        const uint32_t s = L::kChannelSettsBase + static_cast<uint32_t>(n) * L::kChannelStride;
        const bool inUse = n < used;
        // Calibrated hoses carry individual pulse values; the others keep the factory value.
        const uint32_t w = inUse ? 0x7FFF0000u + 0x111u * static_cast<uint32_t>(n) : 0x80000000u;
        const uint32_t kl = inUse ? w + 0x2000u + 0x10u * static_cast<uint32_t>(n) : 0x80000000u;
        Put32(m, s + 0, w);
        Put8(m, s + 4, 0);
        Put32(m, s + 5, kl);
        Put8(m, s + 9, 0);
        Put32(m, s + 10, kl - w);
        Put16(m, s + 14, 200); // twice the 100 pulses per litre
        Put8(m, s + 16, 1);    // both phases
        Put16(m, s + 17, inUse ? static_cast<unsigned>(n + 1) : 0);

        if (!inUse) continue;
        const uint32_t r = L::kChannelRegsBase + static_cast<uint32_t>(n) * L::kChannelStride;
        const uint32_t k = static_cast<uint32_t>(n);
        Put8(m, r + 0, k);
        Put8(m, r + 1, 44);               // normal end of the last delivery
        Put16(m, r + 2, 0x0080);          // channel activated
        Put32(m, r + 4, 2000 + 100 * k);  // last dose 20,00 l + n
        Put32(m, r + 8, 104600 + 10 * k); // set sum
        Put32(m, r + 12, 2000 + 100 * k); // delivered
        Put32(m, r + 16, 0);
        Put32(m, r + 20, 0);
        Put32(m, r + 24, 0);
        Put32(m, r + 28, 2000 + 100 * k);
        Put16(m, r + 32, 5230 + 100 * k); // price 52,30
        Put16(m, r + 34, 0);
        Put16(m, r + 36, 100);                // low-flow dose at start, ml
        Put32(m, r + 38, 300);                // and at the end
        Put32(m, r + 42, 1500 + 7 * k);       // delta totaliser
        Put32(m, r + 46, 123456 + 11111 * k); // fiscal totaliser, whole part
        Put8(m, r + 50, 7 + k);               // and its fraction
        Put32(m, r + 51, 800000 + 1000 * k);  // set in litres
        Put32(m, r + 55, 400000 + 1000 * k);  // set in money
        Put32(m, r + 59, 12000 + 100 * k);    // BMU keypad
        Put32(m, r + 63, 500 + k);            // measuring vessel
        Put16(m, r + 67, 0);
    }
}

void FillSideStates(std::vector<uint8_t>& m, int sides) {
    for (int s = 0; s < 2; ++s) {
        const uint32_t a = s == 0 ? L::kSideStateA : L::kSideStateB;
        if (s >= sides) continue;                      // an unused side stays blank
        Put8(m, a + 0, 1);                             // nozzle 1 selected
        Put16(m, a + 1, 3 + static_cast<unsigned>(s)); // corrections
        Put8(m, a + 3, 15);                            // last correction 15.03.24
        Put8(m, a + 4, 3);
        Put8(m, a + 5, 24);
        Put32(m, a + 6, 10000 + 234 * static_cast<uint32_t>(s)); // transactions
    }
}

void FillMakeBlock(std::vector<uint8_t>& m, int used) {
    const uint32_t b = L::kMakeBlock;
    Put16(m, b + 0, (1u << used) - 1u); // used-channel mask
    Put8(m, b + 15, 0);                 // ShimDuration: not used
    Put16(m, b + 16, 20);               // MinVolNara
    Put8(m, b + 18, 5);                 // StWaitForceNara
    Put8(m, b + 19, 3);                 // StopTimeNara
    Put16(m, b + 22, 2);                // UpgrCountNara
    Put8(m, b + 24, 15);                // PbTimeoutNara
    for (uint32_t i = 0; i < 4; ++i) Put32(m, b + 25 + 4 * i, 1111 * (i + 1));
    Put32(m, b + 41, 123456); // administrator password
}

} // namespace

void FillDefaultMemory(Controller& c, int address, int sideB, int sides, int hosesPerSide) {
    auto& er = c.Space(0);
    const int used = std::min(sides * hosesPerSide, L::kChannels);

    const uint8_t sizes[L::kSizesRecordSize] = {L::kParamsSize,
                                                static_cast<uint8_t>(hosesPerSide),
                                                static_cast<uint8_t>(sides),
                                                L::kChannelSettsSize,
                                                0,
                                                L::kChannelRegsSize,
                                                L::kSideStateSize};
    for (int i = 0; i < L::kSizesRecordSize; ++i)
        er[L::kSizesRecord + static_cast<uint32_t>(i)] = sizes[i];

    FillParams(er, address, sideB, sides, hosesPerSide);
    FillChannels(er, used);
    FillSideStates(er, sides);
    for (int k = 0; k < L::kTempEntries; ++k)
        Put16(er, L::kTempTable + 2 * static_cast<uint32_t>(k), ThermistorAdc(-50 + 4 * k));
    FillMakeBlock(er, used);
    // The reserved block is carried opaque by the tool; give it recognisable content.
    for (uint32_t i = 0; i < L::kBlock3000Size; ++i)
        Put8(er, L::kBlock3000 + i, (i * 7 + 3) & 0xFF);

    auto& ir = c.Space(2);
    Put8(ir, L::kStatusReg, 0x01); // running, pulse simulator off
    Put16(ir, L::kTempAdcReg, ThermistorAdc(21));
    Put8(ir, L::kTempAdcReg + 2, 21);
    Put8(ir, L::kRunTimeRegs, 0x00);
    Put8(ir, L::kRunTimeRegs + 1, 0x12);
    Put8(ir, L::kRunTimeRegs + 2, 0x34);

    // The third space: fixed pseudo-random contents, the same for every controller.
    auto& im = c.Space(4);
    uint32_t x = 0x2545F491u;
    for (auto& b : im) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
}

std::string DefaultIdentText(int serial) {
    char text[128];
    std::snprintf(text, sizeof text, "ТРК контроллер Velmar-K2 v3.14\r\nЗаводской №%06d\r\n",
                  serial);
    return Utf8ToCp866(text);
}

} // namespace velmar::sim
