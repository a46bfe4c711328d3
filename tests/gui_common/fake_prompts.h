// Answers the program's questions from scripts set up by a test and records what it showed. Like
// a real box, each prompt runs a nested event loop before it answers, so that whatever a box
// would deliver (queued calls, timers, held closes) is delivered in the tests too.
#pragma once

#include "ui/fields/prompts.h"
#include "ui/velmar_application.h"

#include <QDialog>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace velmar::test {

class FakePrompts : public ui::Prompts {
  public:
    std::deque<std::optional<QString>> inputs; // nullopt answers Cancel
    std::deque<bool> confirms;                 // empty: Cancel
    std::deque<QString> saveNames;             // empty: Cancel
    std::deque<QString> openNames;
    // Runs a modal dialog: gets it shown (not modal) and decides; default: close it.
    std::function<void(QDialog&)> onDialog;
    // Sees each message as it is shown.
    std::function<void(const QString&)> onMessage;
    // Answers the print dialog: sets up the printer and returns true for Print; default: Cancel.
    std::function<bool(QPrinter&)> onPrint;

    QStringList messages;
    QStringList inputCaptions;
    QStringList confirmTexts;
    QStringList fileTitles;

    void Message(QWidget*, const QString& text) override {
        RunNestedLoop();
        messages << text;
        if (onMessage) onMessage(text);
    }
    bool Confirm(QWidget*, const QString& text) override {
        RunNestedLoop();
        confirmTexts << text;
        if (confirms.empty()) return false;
        const bool ok = confirms.front();
        confirms.pop_front();
        return ok;
    }
    bool InputQuery(QWidget*, const QString& caption, const QString& prompt,
                    QString& value) override {
        RunNestedLoop();
        inputCaptions << caption + QLatin1Char('|') + prompt;
        if (inputs.empty() || !inputs.front()) {
            if (!inputs.empty()) inputs.pop_front();
            return false;
        }
        value = *inputs.front();
        inputs.pop_front();
        return true;
    }
    QString SaveFileName(QWidget*, const QString& title, const QString&, const QString&) override {
        RunNestedLoop();
        fileTitles << title;
        return Take(saveNames);
    }
    QString OpenFileName(QWidget*, const QString& title, const QString&, const QString&) override {
        RunNestedLoop();
        fileTitles << title;
        return Take(openNames);
    }
    bool PrintSetup(QWidget*, QPrinter& printer) override {
        return onPrint ? onPrint(printer) : false;
    }
    int ExecDialog(QDialog& dialog) override {
        dialog.show();
        if (onDialog) onDialog(dialog);
        if (dialog.isVisible()) dialog.reject();
        return dialog.result();
    }

  private:
    static void RunNestedLoop() {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
    }
    static QString Take(std::deque<QString>& q) {
        if (q.empty()) return {};
        QString s = q.front();
        q.pop_front();
        return s;
    }
};

// An exception escaping an event handler fails the running test instead of opening a modal box
// that nobody closes.
inline void FailOnEscapedException() {
    ui::VelmarApplication::SetExceptionHandler([](const QString& text) {
        ADD_FAILURE() << "exception escaped an event handler: " << text.toStdString();
    });
}

} // namespace velmar::test
