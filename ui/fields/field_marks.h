// The invalid mark of an edit control and the window-wide state of the entry pattern: a control
// whose text is bad is marked (red background, or red font for the topology grids and address
// fields) and counted in InvalidFieldCount, which blocks the parameter writes while not zero.
#pragma once

class QWidget;

namespace velmar::ui {

// One per main window (a member of the session), shared by every page.
struct FieldEntryState {
    // Set when the text of a bound field changes, cleared when a bound field gets the focus.
    bool fieldEdited = false;
    // How many controls are marked invalid.
    int invalidFieldCount = 0;
};

enum class MarkLook { Background, Font };

bool IsMarked(const QWidget* control);

// Marks or unmarks `control`; the count follows only when the mark changes. The count never goes
// below zero: a record read elsewhere may have reset it while this control stayed marked.
void SetMark(QWidget* control, bool invalid, MarkLook look, FieldEntryState& state);

// A record was read into `control`: white (black font) and unmarked; the reader resets the count.
void ResetMark(QWidget* control, MarkLook look);

} // namespace velmar::ui
