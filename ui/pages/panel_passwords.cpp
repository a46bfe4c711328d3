#include "ui/pages/panel_passwords.h"

#include "data/panel_password.h"
#include "ui/fields/char_key_filter.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace velmar::ui {

namespace {

// Ten digits until the first read replaces them.
const QString kPlaceholder = QStringLiteral("0000000000");

bool Valid(const QString& text) {
    return PanelPasswordValid(text.toStdString());
}

} // namespace

PanelPasswords::PanelPasswords(QLineEdit* admin, QComboBox* operators, MakeBlock& block,
                               FieldEntryState& entry, QObject* parent)
    : QObject(parent), admin_(admin), operators_(operators), block_(block), entry_(entry) {
    admin_->setMaxLength(kPanelPasswordDigits);
    admin_->setText(kPlaceholder);
    operators_->setEditable(true);
    operators_->setInsertPolicy(QComboBox::NoInsert);
    // Qt's inline completion would turn "11" into another slot's "1111" and jump to that slot.
    operators_->setCompleter(nullptr);
    operators_->lineEdit()->setMaxLength(kPanelPasswordDigits);
    operators_->setEditText(kPlaceholder);
    new CharKeyFilter(admin_, kDigits);
    new CharKeyFilter(operators_->lineEdit(), kDigits);

    connect(admin_, &QLineEdit::textChanged, this, &PanelPasswords::eBmuPAdmChange);
    connect(new LeaveWatcher(admin_), &LeaveWatcher::left, this, &PanelPasswords::eBmuPAdmExit);
    connect(operators_, &QComboBox::editTextChanged, this, &PanelPasswords::cbBmuPUserChange);
    connect(operators_, &QComboBox::activated, this, [this](int item) {
        if (item >= 0) slot_ = item;
    });
    connect(new LeaveWatcher(operators_), &LeaveWatcher::left, this,
            &PanelPasswords::StoreOperator);
    view_ = operators_->view();
    view_->installEventFilter(this);
}

bool PanelPasswords::eventFilter(QObject* watched, QEvent* event) {
    // The drop-down's list becomes visible: the text typed so far goes into its slot first.
    // The view's own pointer: the list may be half destroyed when its view sends its last events.
    if (event->type() == QEvent::Show && watched == view_) StoreOperator();
    return QObject::eventFilter(watched, event);
}

void PanelPasswords::Show() {
    {
        const QSignalBlocker blockAdmin(admin_);
        admin_->setText(QString::number(block_.BmuPAdm()));
    }
    {
        const QSignalBlocker blockList(operators_);
        operators_->clear();
        for (int i = 0; i < make::kOperatorCount; ++i)
            operators_->addItem(QString::number(block_.BmuPUser(i)));
        operators_->setCurrentIndex(0);
    }
    slot_ = 0;
    ResetMark(admin_, MarkLook::Background);
    ResetMark(operators_, MarkLook::Background);
}

int PanelPasswords::CountMarked() const {
    return (IsMarked(admin_) ? 1 : 0) + (IsMarked(operators_) ? 1 : 0);
}

void PanelPasswords::eBmuPAdmChange() {
    SetMark(admin_, !Valid(admin_->text()), MarkLook::Background, entry_);
}

void PanelPasswords::eBmuPAdmExit() {
    uint32_t value = 0;
    if (PanelPasswordValue(admin_->text().toStdString(), value)) block_.SetBmuPAdm(value);
}

void PanelPasswords::cbBmuPUserChange() {
    SetMark(operators_, !Valid(operators_->currentText()), MarkLook::Background, entry_);
}

void PanelPasswords::StoreOperator() {
    const QString text = operators_->currentText();
    uint32_t value = 0;
    if (!PanelPasswordValue(text.toStdString(), value)) return;
    block_.SetBmuPUser(slot_, value);
    const QSignalBlocker block(operators_);
    operators_->setItemText(slot_, text);
}

} // namespace velmar::ui
