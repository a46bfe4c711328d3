// Accessible names for the input controls of a form, so that screen readers and desktop test
// robots can find each field by its caption. A control named by the forms' convention (prefix
// "e", "cb", "sg", "checkb", "mask" or "m" and a stem) takes the text of the label "l" + stem of
// its window; a control with a name of its own (set in its form) keeps it.
#pragma once

class QWidget;

namespace velmar::ui {

// Every label with a buddy gives its caption to that buddy (when it has no name yet).
void NameInputsByLabels(QWidget* page);

// Edit fields, lists, grids, check boxes and the like: the controls that take a value. Parts of
// other controls (a combo box's list, a grid's cell editor, scroll bars) are not counted.
bool IsInputControl(const QWidget* widget);

// Names every input control under `root` (dialogs among its children included) that has no
// accessible name yet from the label of its caption.
void NameInputControls(QWidget* root);

} // namespace velmar::ui
