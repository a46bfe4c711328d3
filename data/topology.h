// Dispenser topology in the controller parameter block: the Nara address of every nozzle
// (bytes 6..21) and the physical-to-logical nozzle map (bytes 35..50), their automatic values,
// the checks of the editing grids and the packing of the grids back into the block. The "Север"
// mode limits are here too. Nothing here talks to a controller.
#pragma once

#include "data/ctrlr_params.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmar {

// The grids show at most this many nozzles per side.
inline constexpr int kTopologyMaxNozzles = 8;
inline constexpr int kTopologyMaxSides = 2;

// Cell values of one side's grid, one per nozzle (ints: automatic numbering may exceed a byte,
// which the checks then reject).
using TopologyCells = std::vector<int>;
// Cell texts as typed.
using TopologyTexts = std::vector<std::string>;

struct SideCells {
    TopologyCells sideA;
    TopologyCells sideB;
};

// Nozzles per side the grids show for a block: CountNozTrk limited to 0..8.
int TopologyNozzles(const CtrlrParams& p);

// A topology number: non-empty, decimal digits only, stored in one byte. 256 passes the field
// check of the editing pattern but has no byte value, so it is refused like 257.
bool ParseTopologyNumber(std::string_view text, int& value);

// Automatic numbering for `nozzles` cells per side: side A's cell i from byte 6+i, side B's from
// byte 6+n+i; a 0 becomes the previous cell + 1 (side A's first: 1; side B's first: side A's
// last + 1). A block without addresses gives 1..n and n+1..2n.
SideCells NaraAutoNumber(const CtrlrParams& p, int nozzles);

// The identity map: side A's cell j = j, side B's cell j = n + j.
SideCells IdentityMap(int nozzles);

// The map as the block holds it (one side with two nozzles: bytes 35 and 36 are side A's).
SideCells MapFromBlock(const CtrlrParams& p, int nozzles, int sides);

// Result of a grid check: -1 when every cell passes, else the first failing cell.
struct GridCheck {
    int badCell = -1;
    TopologyCells values; // the parsed cells (valid only when badCell is -1)
    bool ok() const { return badCell < 0; }
};

// Nara rules: every cell a topology number; a non-zero value must not repeat an earlier cell of
// this grid or any cell of `other` (the other side's grid; pass none with one side). 0 repeats.
GridCheck CheckNaraGrid(const TopologyTexts& grid, const TopologyTexts& other);
// Map rules: the same, except that 255 (unused) may repeat instead of 0.
GridCheck CheckMapGrid(const TopologyTexts& grid, const TopologyTexts& other);

// Leaving a side address field.
struct SideAddressCheck {
    bool parsed = false;    // false: this field is marked, the block is not changed
    bool equalText = false; // both fields hold the same text: both are marked
    int value = 0;          // stored into byte 2 (side A) or 3 (side B) when parsed
};
SideAddressCheck CheckSideAddress(std::string_view text, std::string_view otherText);

// Storing a grid that passed its check when it is left. side 0 is A, 1 is B.
void StoreNaraCells(CtrlrParams& p, int side, const TopologyCells& cells);
void StoreMapCells(CtrlrParams& p, int side, const TopologyCells& cells);

// Packing before the parameter write: the map into bytes 35..50 and the Nara addresses into
// bytes 6..21, from the grids, for the counts of bytes 4 and 5. Missing cells count as 255 (map)
// and 0 (Nara). Only bytes 6..21 and 35..50 are touched, whatever the counts say.
void PackTopology(CtrlrParams& p, const SideCells& nara, const SideCells& map);

// The map a builder writes for its counts: one side with two nozzles row 0 = (0, 1); otherwise
// row j = (j, j + n with two sides else 255) for j < n; other rows (255, 255).
void FillDefaultMap(CtrlrParams& p, int sides, int nozzles);

// "Север" mode: at most two nozzles in all.
bool SeverMode(const CtrlrParams& p);
// Sides were changed: two sides with more than one nozzle drop to one nozzle.
void SeverOnSidesChange(int sides, int& nozzles);
// Nozzles were changed: two nozzles on two sides drop to one side; more than two drop to one.
void SeverOnNozzlesChange(int& sides, int& nozzles);
// The nozzle list after the block was read: with the mode on, only "1" and "2"; a count above 2,
// or 2 with two sides, becomes 1 (and is written into CountNozTrk). Returns the item count.
int SeverNozzleListOnRead(CtrlrParams& p);

} // namespace velmar
