// The application object: an exception that escapes an event handler is shown in a message box
// and the event loop goes on.
#pragma once

#include <QApplication>
#include <functional>

namespace velmar::ui {

class VelmarApplication : public QApplication {
  public:
    VelmarApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the text of an escaped exception; a message box unless replaced (tests).
    static void SetExceptionHandler(std::function<void(const QString&)> handler);
};

} // namespace velmar::ui
