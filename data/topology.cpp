#include "data/topology.h"

#include "data/field_entry.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr int kNaraCount = params::kAdrNaraTrk.count;
constexpr int kMapPairs = params::kPhysToLogTrk.count / 2;
constexpr int kUnused = params::kUnusedMapEntry;

int Cell(const TopologyCells& cells, size_t i, int missing) {
    return i < cells.size() ? cells[i] : missing;
}

uint8_t Byte(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

bool OneSideTwoNozzles(int sides, int nozzles) {
    return sides == 1 && nozzles == 2;
}

// `repeatable`: the value that may occur more than once (0 for Nara, 255 for the map).
GridCheck CheckGrid(const TopologyTexts& grid, const TopologyTexts& other, int repeatable) {
    GridCheck result;
    std::vector<int> otherValues;
    for (const std::string& text : other) {
        int v = 0;
        if (ParseTopologyNumber(text, v)) otherValues.push_back(v);
    }
    for (size_t i = 0; i < grid.size(); ++i) {
        int v = 0;
        const bool bad =
            !ParseTopologyNumber(grid[i], v) ||
            (v != repeatable &&
             (std::find(result.values.begin(), result.values.end(), v) != result.values.end() ||
              std::find(otherValues.begin(), otherValues.end(), v) != otherValues.end()));
        if (bad) {
            result.badCell = static_cast<int>(i);
            return result;
        }
        result.values.push_back(v);
    }
    return result;
}

} // namespace

int TopologyNozzles(const CtrlrParams& p) {
    return std::min<int>(p.CountNozTrk(), kTopologyMaxNozzles);
}

bool ParseTopologyNumber(std::string_view text, int& value) {
    if (ParseField(text, 255, 0) != ParseResult::Ok) return false;
    value = static_cast<int>(DecimalToInt(text));
    return true;
}

SideCells NaraAutoNumber(const CtrlrParams& p, int nozzles) {
    nozzles = std::clamp(nozzles, 0, kTopologyMaxNozzles);
    SideCells cells;
    for (int i = 0; i < nozzles; ++i) {
        int v = p.AdrNaraTrk(i);
        if (v == 0) v = i == 0 ? 1 : cells.sideA.back() + 1;
        cells.sideA.push_back(v);
    }
    for (int i = 0; i < nozzles; ++i) {
        int v = p.AdrNaraTrk(nozzles + i);
        if (v == 0) v = (i == 0 ? cells.sideA.back() : cells.sideB.back()) + 1;
        cells.sideB.push_back(v);
    }
    return cells;
}

SideCells IdentityMap(int nozzles) {
    nozzles = std::clamp(nozzles, 0, kTopologyMaxNozzles);
    SideCells cells;
    for (int j = 0; j < nozzles; ++j) {
        cells.sideA.push_back(j);
        cells.sideB.push_back(nozzles + j);
    }
    return cells;
}

SideCells MapFromBlock(const CtrlrParams& p, int nozzles, int sides) {
    nozzles = std::clamp(nozzles, 0, kTopologyMaxNozzles);
    SideCells cells;
    for (int j = 0; j < nozzles; ++j) {
        if (OneSideTwoNozzles(sides, nozzles)) {
            cells.sideA.push_back(p.PhysToLogTrk(j));
            cells.sideB.push_back(p.PhysToLogTrk(1 + 2 * j));
        } else {
            cells.sideA.push_back(p.PhysToLogTrk(2 * j));
            cells.sideB.push_back(p.PhysToLogTrk(2 * j + 1));
        }
    }
    return cells;
}

GridCheck CheckNaraGrid(const TopologyTexts& grid, const TopologyTexts& other) {
    return CheckGrid(grid, other, 0);
}

GridCheck CheckMapGrid(const TopologyTexts& grid, const TopologyTexts& other) {
    return CheckGrid(grid, other, kUnused);
}

SideAddressCheck CheckSideAddress(std::string_view text, std::string_view otherText) {
    SideAddressCheck result;
    result.parsed = ParseTopologyNumber(text, result.value);
    if (result.parsed) result.equalText = text == otherText;
    return result;
}

void StoreNaraCells(CtrlrParams& p, int side, const TopologyCells& cells) {
    const int n = TopologyNozzles(p);
    for (int j = 0; j < n && j < static_cast<int>(cells.size()); ++j) {
        const int index = side == 0 ? j : n + j;
        if (index >= kNaraCount) break;
        p.SetAdrNaraTrk(index, Byte(cells[static_cast<size_t>(j)]));
    }
}

void StoreMapCells(CtrlrParams& p, int side, const TopologyCells& cells) {
    const int n = TopologyNozzles(p);
    const bool pairLayout = !OneSideTwoNozzles(p.CountSideTrk(), n);
    for (int j = 0; j < n && j < static_cast<int>(cells.size()); ++j) {
        const int index = pairLayout ? 2 * j + side : (side == 0 ? j : -1);
        if (index < 0 || index >= 2 * kMapPairs) continue;
        p.SetPhysToLogTrk(index, Byte(cells[static_cast<size_t>(j)]));
    }
}

void PackTopology(CtrlrParams& p, const SideCells& nara, const SideCells& map) {
    const int n = TopologyNozzles(p);
    const bool twoSides = p.CountSideTrk() == 2;

    if (OneSideTwoNozzles(p.CountSideTrk(), n)) {
        p.SetPhysToLogTrk(0, Byte(Cell(map.sideA, 0, kUnused)));
        p.SetPhysToLogTrk(1, Byte(Cell(map.sideA, 1, kUnused)));
        for (int i = 2; i < 2 * kMapPairs; ++i) p.SetPhysToLogTrk(i, kUnused);
    } else {
        for (int j = 0; j < kMapPairs; ++j) {
            const size_t cj = static_cast<size_t>(j);
            const int a = j < n ? Cell(map.sideA, cj, kUnused) : kUnused;
            const int b = j < n && twoSides ? Cell(map.sideB, cj, kUnused) : kUnused;
            p.SetPhysToLogTrk(2 * j, Byte(a));
            p.SetPhysToLogTrk(2 * j + 1, Byte(b));
        }
    }

    // Side B's addresses start at 6 + n whatever the side count, as the controller reads them.
    std::vector<int> area(static_cast<size_t>(kNaraCount), 0);
    for (int k = 0; k < n; ++k) {
        const size_t ck = static_cast<size_t>(k);
        area[ck] = Cell(nara.sideA, ck, 0);
        if (n + k < kNaraCount) area[static_cast<size_t>(n + k)] = Cell(nara.sideB, ck, 0);
    }
    for (int i = 0; i < kNaraCount; ++i) p.SetAdrNaraTrk(i, Byte(area[static_cast<size_t>(i)]));
}

void FillDefaultMap(CtrlrParams& p, int sides, int nozzles) {
    nozzles = std::clamp(nozzles, 0, kTopologyMaxNozzles);
    for (int i = 0; i < 2 * kMapPairs; ++i) p.SetPhysToLogTrk(i, kUnused);
    if (OneSideTwoNozzles(sides, nozzles)) {
        p.SetPhysToLogTrk(0, 0);
        p.SetPhysToLogTrk(1, 1);
        return;
    }
    for (int j = 0; j < nozzles; ++j) {
        p.SetPhysToLogTrk(2 * j, Byte(j));
        if (sides == 2) p.SetPhysToLogTrk(2 * j + 1, Byte(j + nozzles));
    }
}

bool SeverMode(const CtrlrParams& p) {
    return (p.TrkModes() & params::kTrkModesSever) != 0;
}

void SeverOnSidesChange(int sides, int& nozzles) {
    if (sides == 2 && nozzles > 1) nozzles = 1;
}

void SeverOnNozzlesChange(int& sides, int& nozzles) {
    if (nozzles == 2 && sides == 2) sides = 1;
    if (nozzles > 2) nozzles = 1;
}

int SeverNozzleListOnRead(CtrlrParams& p) {
    if (!SeverMode(p)) return kTopologyMaxNozzles;
    const int n = p.CountNozTrk();
    const bool beyondTwo = n > 2 && n <= 15; // 0 and above 15 select item "1" already
    if (beyondTwo || (n == 2 && p.CountSideTrk() == 2)) p.SetCountNozTrk(1);
    return 2;
}

} // namespace velmar
