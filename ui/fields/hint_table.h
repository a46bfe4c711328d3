// The hint of every control of the main window and the shared handler of the "?" buttons.
#pragma once

#include <QString>
#include <functional>
#include <vector>

class QWidget;

namespace velmar::ui {

struct HintRow {
    const char* tab;
    std::vector<const char*> controls; // the controls (and their "?" buttons) sharing the text
    const char* text;                  // UTF-8; '\r' is a line break
};

const std::vector<HintRow>& HintTable();

// The hint of a control by object name as stored in the table ('\r' kept); empty when none.
QString HintText(const QString& objectName);
// The text as shown in a tooltip or message box: every '\r' becomes a line break.
QString HintDisplayText(const QString& raw);

// Gives every control under `root` that has a row in the table its hint, shown as tooltip when
// `on`. Controls added later (pages swapped in) get theirs when this runs again.
void EnabledHint(QWidget* root, bool on);

// Binds every "?" button (object name starting with "help") under `root` to one handler that
// shows the button's own hint through `show`. Buttons already bound are left alone.
void ConnectHelpButtons(QWidget* root, const std::function<void(const QString&)>& show);

} // namespace velmar::ui
