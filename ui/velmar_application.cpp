#include "ui/velmar_application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <cstdio>
#include <exception>

namespace velmar::ui {

namespace {

std::function<void(const QString&)>& ExceptionHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

void ShowException(const QString& text) {
    if (ExceptionHandler())
        ExceptionHandler()(text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

void VelmarApplication::SetExceptionHandler(std::function<void(const QString&)> handler) {
    ExceptionHandler() = std::move(handler);
}

bool VelmarApplication::InstallRussianQtTexts() {
    if (!qtTexts_.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                       QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return installTranslator(&qtTexts_);
}

bool VelmarApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Неизвестная ошибка"));
    }
    return false;
}

} // namespace velmar::ui
