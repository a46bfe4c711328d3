// The controller settings tab's topology: the side and hose counts, the side addresses, the
// Nara address grids and the physical map, each checked on leaving and packed before a write.
#include "data/ctrlr_params.h"
#include "data/topology.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/tab_ctrlr_setts.h"
#include "ui/pages/tab_ctrlr_setts_lists.h"
#include "ui/session.h"
#include "ui_tab_ctrlr_setts.h"

#include <QLineEdit>

namespace velmar::ui {

using ctrlr_setts::Select;
using ctrlr_setts::ShowCells;

namespace {

TopologyTexts Texts(const FieldGrid* grid) {
    TopologyTexts texts;
    for (const QString& cell : grid->Cells()) texts.push_back(cell.toStdString());
    return texts;
}

} // namespace

void TabCtrlrSetts::cbCountSideTrkChange() {
    const int item = ui->cbCountSideTrk->currentIndex();
    Work().SetCountSideTrk(static_cast<uint8_t>(item + 1));
    if (item == 1) {
        ui->gbSide2->setVisible(true);
        if (SeverMode(Work()) && ui->cbCountNozTrk->currentIndex() > 0) {
            Select(ui->cbCountNozTrk, 0);
            cbCountNozTrkChange();
        }
    } else {
        ui->gbSide2->setVisible(false);
    }
    RefillGrids();
}

void TabCtrlrSetts::cbCountNozTrkChange() {
    int nozzles = ui->cbCountNozTrk->currentIndex() + 1;
    Work().SetCountNozTrk(static_cast<uint8_t>(nozzles));
    if (SeverMode(Work())) {
        int sides = Sides();
        SeverOnNozzlesChange(sides, nozzles);
        if (sides != Sides()) {
            Select(ui->cbCountSideTrk, sides - 1);
            cbCountSideTrkChange();
        }
        if (nozzles != ui->cbCountNozTrk->currentIndex() + 1) {
            Select(ui->cbCountNozTrk, nozzles - 1);
            Work().SetCountNozTrk(static_cast<uint8_t>(nozzles));
        }
    }
    SetGridColumns(TopologyNozzles(Work()));
    RefillGrids();
}

// The counts changed: the Nara grids are numbered afresh, the maps reset to the identity, and
// the old marks of the grids no longer apply. An address field keeps its mark only while its
// text is not a number at all, so a field whose text is not stored never looks good. Then the
// Nara grids are checked again; the first bad one is marked.
void TabCtrlrSetts::RefillGrids() {
    FillNaraAuto();
    FillIdentityMaps();
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        int value = 0;
        QLineEdit* adr = AdrEdit(side);
        SetMark(adr, !ParseTopologyNumber(adr->text().toStdString(), value), MarkLook::Font,
                entry_);
        SetMark(NaraGrid(side), false, MarkLook::Font, entry_);
        SetMark(MapGrid(side), false, MarkLook::Font, entry_);
    }
    if (!CheckNaraSide(0)) return;
    if (Work().CountSideTrk() == 2) CheckNaraSide(1);
}

void TabCtrlrSetts::FillNaraAuto() {
    const SideCells nara = NaraAutoNumber(Work(), TopologyNozzles(Work()));
    ShowCells(NaraGrid(0), nara.sideA);
    ShowCells(NaraGrid(1), nara.sideB);
}

void TabCtrlrSetts::FillIdentityMaps() {
    const SideCells map = IdentityMap(TopologyNozzles(Work()));
    ShowCells(MapGrid(0), map.sideA);
    ShowCells(MapGrid(1), map.sideB);
}

void TabCtrlrSetts::SetGridColumns(int n) {
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        NaraGrid(side)->SetColumns(n);
        MapGrid(side)->SetColumns(n);
    }
}

// Marks the side's Nara grid when it breaks the rules; true when it passes.
bool TabCtrlrSetts::CheckNaraSide(int side) {
    const TopologyTexts other = Sides() == 2 ? Texts(NaraGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckNaraGrid(Texts(NaraGrid(side)), other);
    if (!check.ok()) SetMark(NaraGrid(side), true, MarkLook::Font, entry_);
    return check.ok();
}

void TabCtrlrSetts::NaraGridExit(int side) {
    FieldGrid* grid = NaraGrid(side);
    grid->clearSelection();
    const TopologyTexts other = Sides() == 2 ? Texts(NaraGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckNaraGrid(Texts(grid), other);
    SetMark(grid, !check.ok(), MarkLook::Font, entry_);
    if (check.ok()) StoreNaraCells(Work(), side, check.values);
}

void TabCtrlrSetts::MapGridExit(int side) {
    FieldGrid* grid = MapGrid(side);
    grid->clearSelection();
    const TopologyTexts other = Sides() == 2 ? Texts(MapGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckMapGrid(Texts(grid), other);
    SetMark(grid, !check.ok(), MarkLook::Font, entry_);
    if (check.ok()) StoreMapCells(Work(), side, check.values);
}

void TabCtrlrSetts::AdrTrkExit(int side) {
    QLineEdit* adr = AdrEdit(side);
    QLineEdit* other = AdrEdit(1 - side);
    const std::string otherText = other->text().toStdString();
    const SideAddressCheck check = CheckSideAddress(adr->text().toStdString(), otherText);
    if (!check.parsed) {
        SetMark(adr, true, MarkLook::Font, entry_);
        return;
    }
    SetMark(adr, check.equalText, MarkLook::Font, entry_);
    // The other field loses its mark only when its own text is good.
    int otherValue = 0;
    SetMark(other, check.equalText || !ParseTopologyNumber(otherText, otherValue), MarkLook::Font,
            entry_);
    if (side == 0) {
        Work().SetAdrTrk_1(static_cast<uint8_t>(check.value));
    } else {
        Work().SetAdrTrk_2(static_cast<uint8_t>(check.value));
    }
}

// The grids into the block before a write. A grid whose cells are not all numbers is marked and
// stops the write (it cannot happen after the leave checks, but nothing unchecked is packed).
bool TabCtrlrSetts::PackGrids() {
    const auto cells = [this](FieldGrid* grid, bool shown, TopologyCells& out) {
        out.clear();
        for (const QString& text : grid->Cells()) {
            int v = 0;
            if (!ParseTopologyNumber(text.toStdString(), v)) {
                if (shown) SetMark(grid, true, MarkLook::Font, entry_);
                return !shown; // a hidden side's grid counts as empty from its bad cell on
            }
            out.push_back(v);
        }
        return true;
    };
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        NaraGrid(side)->CommitEdit();
        MapGrid(side)->CommitEdit();
    }
    const bool sideB = Sides() == 2;
    SideCells nara;
    SideCells map;
    bool ok = cells(NaraGrid(0), true, nara.sideA);
    ok = cells(NaraGrid(1), sideB, nara.sideB) && ok;
    ok = cells(MapGrid(0), true, map.sideA) && ok;
    ok = cells(MapGrid(1), sideB, map.sideB) && ok;
    if (!ok) return false;
    PackTopology(Work(), nara, map);
    return true;
}

} // namespace velmar::ui
