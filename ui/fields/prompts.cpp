#include "ui/fields/prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace velmar::ui {

QWidget* BoxParent(QWidget* requested) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    for (QWidget* w = requested; w != nullptr; w = w->parentWidget())
        if (w->window()->isVisible()) return w->window();
    QWidget* active = QApplication::activeWindow();
    return active != nullptr && active->isVisible() ? active : nullptr; // else the screen's centre
}

void WidgetPrompts::Message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    BoxParent(parent));
    box.exec();
}

namespace {

bool AskOkCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, QApplication::applicationName(), text,
                    QMessageBox::Ok | QMessageBox::Cancel, BoxParent(parent));
    return box.exec() == QMessageBox::Ok;
}

} // namespace

bool WidgetPrompts::Confirm(QWidget* parent, const QString& text) {
    return AskOkCancel(parent, text, QMessageBox::NoIcon);
}

bool WidgetPrompts::Warn(QWidget* parent, const QString& text) {
    return AskOkCancel(parent, text, QMessageBox::Warning);
}

bool WidgetPrompts::InputQuery(QWidget* parent, const QString& caption, const QString& prompt,
                               QString& value) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(BoxParent(parent), caption, prompt, QLineEdit::Normal, value, &ok);
    if (ok) value = text;
    return ok;
}

namespace {

QString RunFileDialog(QWidget* parent, const QString& title, const QString& filter,
                      const QString& defaultSuffix, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(BoxParent(parent), title, QString(), filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString WidgetPrompts::SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& defaultSuffix) {
    return RunFileDialog(parent, title, filter, defaultSuffix, QFileDialog::AcceptSave);
}

QString WidgetPrompts::OpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                    const QString& defaultSuffix) {
    return RunFileDialog(parent, title, filter, defaultSuffix, QFileDialog::AcceptOpen);
}

int WidgetPrompts::ExecDialog(QDialog& dialog) {
    return dialog.exec();
}

bool Prompts::PrintSetup(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace velmar::ui
