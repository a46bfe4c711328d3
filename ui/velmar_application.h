// The application object: an exception that escapes an event handler is reported and the event
// loop goes on.
#pragma once

#include <QApplication>
#include <functional>

namespace velmar::ui {

class VelmarApplication : public QApplication {
  public:
    VelmarApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Reports the text of an escaped exception: the program shows it in its message box, tests
    // fail. Without a handler the text goes to stderr.
    static void SetExceptionHandler(std::function<void(const QString&)> handler);
};

} // namespace velmar::ui
