// Binds numeric edit fields to the fields of a record held in memory, one line per field:
//
//     binder_.Bind(ui->eSlowStart, bind::eSlowStart, params_);
//
// and runs the entry pattern for all of them: getting the focus clears FieldEdited, typing sets
// it, leaving a field that was typed in checks its text against the binding, marks the field red
// (and counts it in InvalidFieldCount) when the text is bad, or stores the value into the record
// and runs the field's follow-up.
#pragma once

#include "data/field_entry.h"
#include "data/record_bytes.h"

#include <QObject>
#include <functional>
#include <type_traits>
#include <vector>

class QLineEdit;

namespace velmar::ui {

struct FieldEntryState;

class FieldBinder : public QObject {
    Q_OBJECT
  public:
    // `state` is the entry checks' state the window shares (Session::FieldEntry()).
    FieldBinder(FieldEntryState& state, QObject* parent);

    // `after` runs after a valid text was stored (for example to refresh a check list).
    template <size_t N>
    void Bind(QLineEdit* edit, const FieldBinding& binding, RecordBytes<N>& record,
              std::function<void()> after = {}) {
        BindBytes(
            edit, binding, [&record] { return record.data(); }, N, std::move(after));
    }
    // For a page whose record changes with a choice (the channel shown): `record` names the
    // record the fields stand for at the moment.
    template <class Get>
    requires std::is_invocable_v<Get&>
    void Bind(QLineEdit* edit, const FieldBinding& binding, Get record,
              std::function<void()> after = {}) {
        using R = std::remove_cvref_t<std::invoke_result_t<Get&>>;
        BindBytes(
            edit, binding, [record]() mutable { return record().data(); }, R::kSize,
            std::move(after));
    }

    // A record was read: every bound field shows its value, white and unmarked.
    void ShowAll();
    // Shows one field's value again (its mark is left as it is).
    void Show(QLineEdit* edit);
    int CountMarked() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Bound {
        QLineEdit* edit;
        FieldBinding binding;
        std::function<uint8_t*()> record;
        size_t size;
        std::function<void()> after;
    };

    void BindBytes(QLineEdit* edit, const FieldBinding& binding, std::function<uint8_t*()> record,
                   size_t size, std::function<void()> after);
    void Exit(Bound& field);
    Bound* Find(const QObject* edit);

    FieldEntryState& state_;
    std::vector<Bound> fields_;
};

} // namespace velmar::ui
