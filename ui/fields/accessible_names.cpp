#include "ui/fields/accessible_names.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextEdit>
#include <array>

namespace velmar::ui {

namespace {

// A stem starts with a capital letter, which tells "maskX" from "m" + "askX".
constexpr std::array<const char*, 6> kInputPrefixes{"checkb", "mask", "cb", "sg", "e", "m"};

bool IsPartOfAnotherControl(const QWidget* widget) {
    for (const QWidget* w = widget->parentWidget(); w != nullptr && !w->isWindow();
         w = w->parentWidget())
        if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
            qobject_cast<const QAbstractItemView*>(w))
            return true;
    // A combo box's list lives in a popup window of its own below the combo box.
    return widget->window() != widget && widget->window()->parentWidget() != nullptr &&
           qobject_cast<const QComboBox*>(widget->window()->parentWidget());
}

// The caption as a name: no mnemonic marks, line breaks or trailing colon.
QString CaptionText(const QLabel& label) {
    QString text = label.text();
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.simplified();
    while (text.endsWith(QLatin1Char(':'))) text.chop(1);
    return text.trimmed();
}

QLabel* CaptionLabel(QWidget* control) {
    const QString name = control->objectName();
    for (const char* prefix : kInputPrefixes) {
        const QLatin1String p(prefix);
        if (!name.startsWith(p) || name.size() == p.size() || !name.at(p.size()).isUpper())
            continue;
        const QString labelName = QStringLiteral("l") + name.mid(p.size());
        // The nearest one: another page of the window may use the same stem.
        for (QWidget* scope = control->parentWidget(); scope != nullptr;
             scope = scope->parentWidget()) {
            if (auto* label = scope->findChild<QLabel*>(labelName)) return label;
            if (scope->isWindow()) break;
        }
        return nullptr;
    }
    return nullptr;
}

} // namespace

void NameInputsByLabels(QWidget* page) {
    for (QLabel* label : page->findChildren<QLabel*>()) {
        QWidget* input = label->buddy();
        if (input != nullptr && input->accessibleName().isEmpty())
            input->setAccessibleName(CaptionText(*label));
    }
}

bool IsInputControl(const QWidget* widget) {
    if (qobject_cast<const QScrollBar*>(widget)) return false;
    const bool input =
        qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
        qobject_cast<const QAbstractSpinBox*>(widget) ||
        qobject_cast<const QAbstractItemView*>(widget) ||
        qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
        qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QCheckBox*>(widget) ||
        qobject_cast<const QRadioButton*>(widget);
    return input && !IsPartOfAnotherControl(widget);
}

void NameInputControls(QWidget* root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->accessibleName().isEmpty() || !IsInputControl(w)) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            w->setAccessibleName(button->text().remove(QLatin1Char('&')));
            continue;
        }
        if (QLabel* label = CaptionLabel(w)) {
            const QString caption = CaptionText(*label);
            if (caption.isEmpty()) continue;
            w->setAccessibleName(caption);
            if (label->buddy() == nullptr) label->setBuddy(w);
        }
    }
}

} // namespace velmar::ui
