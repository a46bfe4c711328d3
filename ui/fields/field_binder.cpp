#include "ui/fields/field_binder.h"

#include "ui/fields/field_marks.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace velmar::ui {

namespace {

// Focus moving to a popup menu or another window is not entering or leaving the field.
bool IsFieldFocusChange(const QFocusEvent* e) {
    return e->reason() != Qt::PopupFocusReason && e->reason() != Qt::ActiveWindowFocusReason;
}

} // namespace

FieldBinder::FieldBinder(FieldEntryState& state, QObject* parent)
    : QObject(parent), state_(state) {}

void FieldBinder::BindBytes(QLineEdit* edit, const FieldBinding& binding,
                            std::function<uint8_t*()> record, size_t size,
                            std::function<void()> after) {
    fields_.push_back({edit, binding, std::move(record), size, std::move(after)});
    edit->setReadOnly(binding.readOnly);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this] { state_.fieldEdited = true; });
}

FieldBinder::Bound* FieldBinder::Find(const QObject* edit) {
    for (Bound& f : fields_)
        if (f.edit == edit) return &f;
    return nullptr;
}

bool FieldBinder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        Bound* field = Find(watched);
        if (field != nullptr && IsFieldFocusChange(static_cast<QFocusEvent*>(event))) {
            if (event->type() == QEvent::FocusIn) {
                state_.fieldEdited = false;
            } else {
                Exit(*field);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void FieldBinder::Exit(Bound& field) {
    // Focus that only passed through does not revalidate.
    if (!state_.fieldEdited) return;
    const QByteArray text = field.edit->text().toUtf8();
    const bool valid = StoreEntry(field.binding, std::string_view(text.constData(), text.size()),
                                  field.record(), field.size);
    SetMark(field.edit, !valid, MarkLook::Background, state_);
    if (!valid) return;
    // A scaled field keeps whole units only: it shows at once what the controller will hold
    // (150 ml typed into a field of hundreds becomes 100), not a value a save would not send.
    if (field.binding.scale != 1) Show(field.edit);
    if (field.after) field.after();
}

void FieldBinder::Show(QLineEdit* edit) {
    if (const Bound* field = Find(edit))
        edit->setText(
            QString::fromStdString(FormatEntry(field->binding, field->record(), field->size)));
}

void FieldBinder::ShowAll() {
    for (Bound& f : fields_) {
        Show(f.edit);
        ResetMark(f.edit, MarkLook::Background);
    }
}

int FieldBinder::CountMarked() const {
    int count = 0;
    for (const Bound& f : fields_) count += IsMarked(f.edit) ? 1 : 0;
    return count;
}

} // namespace velmar::ui
