// Entry in the initial setup dialog: the side and hose counts with the addresses they number, the
// address lists, the digit fields and the hydraulic hit volume, each checked on leaving; Write
// is offered only while nothing is marked.
#include "ui/dialogs/global_setts.h"
#include "ui/dialogs/hydro_hit_entry.h"
#include "ui_global_setts.h"

#include <QSignalBlocker>

namespace velmar::ui {

namespace {

constexpr uint32_t kByteMax = 255;

} // namespace

void TfGlobalSetts::cbNumSideGlobalChange(int item) {
    if (filling_ || item < 0) return;
    sides_ = item + 1;
    AutoFillUtrkAdr(sides_, sideAddresses_);
    ui_->eAdrUtrkGlobal->setText(
        QString::fromStdString(JoinAddressList(sideAddresses_.data(), sides_)));
    AutoFillNara();
}

void TfGlobalSetts::cbNumNozGlobalChange(int item) {
    if (filling_ || item < 0) return;
    nozzles_ = item + 1;
    AutoFillNara();
}

// Side B is numbered so that no two channels share an address (see AutoFillNaraAdr).
void TfGlobalSetts::AutoFillNara() {
    nozzles_ = AutoFillNaraAdr(sides_, nozzles_, channelAddresses_);
    {
        const QSignalBlocker block(ui_->cbNumNozGlobal);
        ui_->cbNumNozGlobal->setCurrentIndex(nozzles_ <= 8 ? nozzles_ - 1 : -1);
    }
    ui_->eAdrNaraGlobal->setText(
        QString::fromStdString(JoinAddressList(channelAddresses_.data(), sides_ * nozzles_)));
}

void TfGlobalSetts::AddressExit(QLineEdit* edit, bool sides) {
    const int n = sides ? sides_ : sides_ * nozzles_;
    const AddressListParse parse = ParseAddressList(edit->text().toStdString(), n);
    for (size_t i = 0; i < parse.values.size() && i < static_cast<size_t>(n); ++i) {
        if (sides)
            sideAddresses_[i] = parse.values[i];
        else
            channelAddresses_[i] = parse.values[i];
    }
    Mark(edit, !parse.valid, MarkLook::Font);
    RefreshWrite();
}

bool TfGlobalSetts::StoreDigit(const DigitField& f) {
    const std::string text = f.edit->text().toStdString();
    if (ParseField(text, f.maximum, 0) != ParseResult::Ok) return false;
    const uint32_t value = DecimalToInt(text);
    if (f.rule && !f.rule(value)) return false;
    // The byte holds at most 255: an entry of 256 (or 25600 for 25600 / 100) is refused rather
    // than stored as 0.
    if (value / f.scale > kByteMax) return false;
    Work().Set(f.field, value / f.scale);
    return true;
}

void TfGlobalSetts::DigitExit(const DigitField& f) {
    const bool stored = StoreDigit(f);
    Mark(f.edit, !stored, MarkLook::Background);
    // A scaled field shows what will be written, in whole units of its scale.
    if (stored && f.scale != 1) f.edit->setText(QString::number(Work().Get(f.field) * f.scale));
    RefreshWrite();
}

void TfGlobalSetts::HydroHitExit() {
    int hundredths = 0;
    const bool ok = ParseHydroHit(ui_->eHydroHitGlobal->text(), hundredths);
    if (ok) Work().SetHydroHit(static_cast<uint8_t>(hundredths));
    // Counted like every other field, so that Write is not offered over a bad value.
    Mark(ui_->eHydroHitGlobal, !ok, MarkLook::Background);
    RefreshWrite();
}

void TfGlobalSetts::Mark(QWidget* control, bool red, MarkLook look) {
    SetMark(control, red, look, marks_);
}

// Write is offered only over records that were read: after a failed read, mending a field must
// not offer to write a block nobody has seen.
void TfGlobalSetts::RefreshWrite() {
    ui_->bSaveParamGlobal->setEnabled(loaded_ && marks_.invalidFieldCount == 0);
}

} // namespace velmar::ui
