#include "ui/fields/char_key_filter.h"

#include <QKeyEvent>
#include <QWidget>

namespace velmar::ui {

CharKeyFilter::CharKeyFilter(QWidget* target, QString accepted)
    : QObject(target), accepted_(std::move(accepted)) {
    target->installEventFilter(this);
}

bool CharKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Shortcuts (Ctrl+A, Ctrl+V) and keys that type nothing are not filtered.
    const bool typing = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
                        !key->text().isEmpty() && key->text().at(0).isPrint();
    if (typing) {
        for (const QChar c : key->text())
            if (!accepted_.contains(c)) return true;
    }
    const bool typesOrEdits = typing || key->key() == Qt::Key_Backspace ||
                              key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (typesOrEdits && onAccepted_) onAccepted_();
    return QObject::eventFilter(watched, event);
}

} // namespace velmar::ui
