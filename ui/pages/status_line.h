// The status line texts of the service pages: a text is shown after the line was emptied and the
// window repainted, so that a repeated text is seen to change; a failure may also come as a box.
#pragma once

class QWidget;

namespace velmar::ui {

class Session;

// Empties the status line, repaints it, then shows `utf8`.
void FreshStatus(Session& session, const char* utf8);
// A message box with `utf8`, then the same text in the status line.
void ReportFailure(Session& session, QWidget* parent, const char* utf8);

} // namespace velmar::ui
