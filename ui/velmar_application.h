// The application object: an exception that escapes an event handler is reported and the event
// loop goes on.
#pragma once

#include <QApplication>
#include <QTranslator>
#include <functional>

namespace velmar::ui {

class VelmarApplication : public QApplication {
  public:
    VelmarApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Qt's own texts (the standard buttons "OK"/"Cancel", file dialogs) in Russian, like the rest
    // of the window, whatever the desktop's language. False when the translation is not
    // installed (Debian package qt6-translations-l10n): Qt's English texts then remain.
    bool InstallRussianQtTexts();

    // Reports the text of an escaped exception: the program shows it in its message box, tests
    // fail. Without a handler the text goes to stderr.
    static void SetExceptionHandler(std::function<void(const QString&)> handler);

  private:
    QTranslator qtTexts_;
};

} // namespace velmar::ui
