// The window's work with saved image files besides loading one into a controller: a file made
// the controller of the session (offline editing), and the controller's whole image read for a
// comparison with a file.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class QWidget;

namespace velmar::ui {

class Session;

// Opens `path` as the session's controller; a file that is no saved image is refused with the
// reason in a message box, and nothing changes. True when opened.
bool OpenOfflineImage(Session& session, QWidget* parent, const QString& path);
// Asks for an image file ("Открыть образ…"); empty when cancelled.
QString AskImageFile(Session& session, QWidget* parent, const QString& title);
// The window title while an image file stands in for the controller ("Velmar" otherwise).
QString SessionWindowTitle(const Session& session);
// Reads the controller's records as "Считать образ из контроллера" does, with the wait window;
// false with `error` saying why.
bool ReadControllerImage(Session& session, std::vector<uint8_t>& image, QString& error);

} // namespace velmar::ui
