#include "ui/fields/field_marks.h"

#include <QColor>
#include <QPalette>
#include <QVariant>
#include <QWidget>

namespace velmar::ui {

namespace {

constexpr const char* kMarkProperty = "velmarInvalidMark";
void Paint(QWidget* control, bool invalid, MarkLook look) {
    QPalette palette = control->palette();
    if (look == MarkLook::Background) {
        palette.setColor(QPalette::Base, invalid ? QColor(255, 96, 96) : QColor(Qt::white));
    } else {
        palette.setColor(QPalette::Text, invalid ? QColor(Qt::red) : QColor(Qt::black));
    }
    control->setPalette(palette);
}

} // namespace

bool IsMarked(const QWidget* control) {
    return control->property(kMarkProperty).toBool();
}

void SetMark(QWidget* control, bool invalid, MarkLook look, FieldEntryState& state) {
    if (IsMarked(control) == invalid) return;
    control->setProperty(kMarkProperty, invalid);
    Paint(control, invalid, look);
    if (invalid) {
        ++state.invalidFieldCount;
    } else if (state.invalidFieldCount > 0) {
        --state.invalidFieldCount;
    }
}

void ResetMark(QWidget* control, MarkLook look) {
    control->setProperty(kMarkProperty, false);
    Paint(control, false, look);
}

} // namespace velmar::ui
