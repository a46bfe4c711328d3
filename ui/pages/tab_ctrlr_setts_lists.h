// Small helpers the files of the controller settings tab share: selecting a list item quietly
// and showing a row of topology numbers in a grid.
#pragma once

#include "data/topology.h"
#include "ui/fields/field_grid.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace velmar::ui::ctrlr_setts {

// Selects an item without running the box's change handling.
inline void Select(QComboBox* box, int item) {
    const QSignalBlocker block(box);
    box->setCurrentIndex(item < box->count() ? item : -1);
}

inline void ShowCells(FieldGrid* grid, const TopologyCells& cells) {
    for (int c = 0; c < grid->columnCount(); ++c)
        grid->SetCell(c, c < static_cast<int>(cells.size())
                             ? QString::number(cells[static_cast<size_t>(c)])
                             : QString());
}

} // namespace velmar::ui::ctrlr_setts
