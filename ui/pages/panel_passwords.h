// The group "Пароли БМУ" of the advanced settings tab: the administrator password edit and the
// editable list of the four operator passwords, checked on every change (red while the text is
// not a 32-bit number) and stored into the make-specific block held by the tab.
#pragma once

#include "data/make_block.h"

#include <QObject>

class QComboBox;
class QLineEdit;

namespace velmar::ui {

struct FieldEntryState;

class PanelPasswords : public QObject {
    Q_OBJECT
  public:
    PanelPasswords(QLineEdit* admin, QComboBox* operators, MakeBlock& block, FieldEntryState& entry,
                   QObject* parent);

    // The block was read: both controls show its passwords, unmarked; slot 0 is current.
    void Show();
    int CountMarked() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void eBmuPAdmChange();
    void eBmuPAdmExit();
    void cbBmuPUserChange();
    // On leaving the list and on opening its drop-down: the text into the current slot.
    void StoreOperator();

    QLineEdit* admin_;
    QComboBox* operators_;
    QObject* view_ = nullptr; // the drop-down's list
    MakeBlock& block_;
    FieldEntryState& entry_;
    int slot_ = 0;
};

} // namespace velmar::ui
