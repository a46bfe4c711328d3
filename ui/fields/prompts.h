// Every modal question the program asks goes through this interface, so that tests can answer
// it without a modal box blocking them.
#pragma once

#include <QString>

class QDialog;
class QPrinter;
class QWidget;

namespace velmar::ui {

class Prompts {
  public:
    virtual ~Prompts() = default;
    // A plain message box with an OK button.
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // A box without icon with the buttons OK and Cancel; true for OK.
    virtual bool Confirm(QWidget* parent, const QString& text) = 0;
    // The same question in a warning box (with the warning icon).
    virtual bool Warn(QWidget* parent, const QString& text) { return Confirm(parent, text); }
    // An input query; true for OK with `value` holding the text entered.
    virtual bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                            QString& value) = 0;
    // File dialogs; `filter` uses Qt's form ("name (*.ext);;..."); empty result for cancel.
    virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    // Shows a dialog modally; returns its result code.
    virtual int ExecDialog(QDialog& dialog) = 0;
    // The system's print dialog (print to file offered) for `printer`; true for Print.
    virtual bool PrintSetup(QWidget* parent, QPrinter& printer);
};

// The window a box or dialog asked for from `requested` belongs to: the modal dialog in front
// when there is one (a box under it could not be answered), else the nearest shown window from
// `requested` up (a window not shown yet has no place on the screen to centre a box on); with no
// window shown at all, none, so that the box appears in the middle of the screen.
QWidget* BoxParent(QWidget* requested);

// The real boxes and dialogs.
class WidgetPrompts final : public Prompts {
  public:
    void Message(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    bool Warn(QWidget* parent, const QString& text) override;
    bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                    QString& value) override;
    QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                         const QString& defaultSuffix) override;
    QString OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                         const QString& defaultSuffix) override;
    int ExecDialog(QDialog& dialog) override;
};

} // namespace velmar::ui
