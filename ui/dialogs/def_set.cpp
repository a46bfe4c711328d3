#include "ui/dialogs/def_set.h"

#include "data/memory_map.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/warning_texts.h"
#include "ui/session.h"
#include "ui_def_set.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QShowEvent>
#include <QSignalBlocker>

namespace velmar::ui {

namespace {

constexpr const char* kWriteFailedDemo = "Ошибка записи";

int NumberOf(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0; // an empty or unreadable address counts as none
}

} // namespace

TformDefSet::TformDefSet(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), ui_(std::make_unique<Ui::TformDefSet>()) {
    ui_->setupUi(this);
    ui_->cbTypeTrk->addItems({QStringLiteral("Шельф"), QStringLiteral("Нара")});
    ui_->cbTypeTrk->setCurrentIndex(-1);
    ui_->cbCountSize_DS->addItems({QStringLiteral("1 сторона"), QStringLiteral("2 стороны")});
    for (int i = 1; i <= 8; ++i) ui_->cbCountNoz_DS->addItem(QString::number(i));
    ui_->progressbar_DS->hide();
    ShowMemo();

    ui_->cbTypeTrk->setAccessibleName(ui_->lTypeTrk_DS->text());
    ui_->cbCountSize_DS->setAccessibleName(ui_->lCountSize_DS->text());
    ui_->cbCountNoz_DS->setAccessibleName(ui_->lCountNoz_DS->text());
    for (int side = 0; side < 2; ++side) {
        const QString group = side == 0 ? ui_->gbTrk1_DS->title() : ui_->gbTrk2_DS->title();
        auto* edit = static_cast<QLineEdit*>(AdrEdit(side));
        edit->setAccessibleName(group + QStringLiteral(": адрес стороны"));
        Grid(side)->setAccessibleName(group + QStringLiteral(": адреса раздаточных кранов"));
        edit->installEventFilter(new DigitKeyFilter(edit));
        connect(edit, &QLineEdit::textChanged, this, [this, side] { AdrTrkChange(side); });
        connect(new LeaveWatcher(edit), &LeaveWatcher::left, this,
                [this, side] { AdrTrkExit(side); });
        connect(Grid(side), &QTableWidget::cellChanged, this,
                [this, side](int, int column) { GridCellChanged(side, column); });
        connect(Grid(side), &FieldGrid::left, this, [this, side] { GridExit(side); });
    }
    connect(ui_->cbTypeTrk, &QComboBox::activated, this, &TformDefSet::cbTypeTrkChange);
    connect(ui_->cbCountSize_DS, &QComboBox::activated, this, &TformDefSet::cbCountSize_DSChange);
    connect(ui_->cbCountNoz_DS, &QComboBox::activated, this, &TformDefSet::cbCountNoz_DSChange);
    connect(ui_->bSaveParam_DS, &QPushButton::clicked, this, &TformDefSet::bSaveParam_DSClick);
}

TformDefSet::~TformDefSet() = default;

FieldGrid* TformDefSet::Grid(int side) const {
    return side == 0 ? ui_->sgAdrNaraTrk1_DS : ui_->sgAdrNaraTrk2_DS;
}

QWidget* TformDefSet::AdrEdit(int side) const {
    return side == 0 ? ui_->eAdrTrk1_DS : ui_->eAdrTrk2_DS;
}

DefaultPreset TformDefSet::Preset() const {
    switch (ui_->cbTypeTrk->currentIndex()) {
    case 0:
        return DefaultPreset::Shelf;
    case 1:
        return DefaultPreset::Nara;
    default:
        return DefaultPreset::None;
    }
}

// The opening reads (and may ask) before the window exists: run from its show event, its nested
// event loops left the window unsized at the screen's corner on X11.
void TformDefSet::setVisible(bool visible) {
    if (visible && !isVisible()) FormShow();
    QDialog::setVisible(visible);
}

void TformDefSet::FormShow() {
    if (!session_.DemoMode()) {
        RecordStore& store = session_.Store();
        const StoreResult got = session_.ExchangeFor([&] { return DefaultsDeviceCheck(store); });
        if (got.Ok() && got.Length() == 0) {
            session_.Ask().Message(this, QString::fromUtf8(kDefaultsUnsupportedText));
            // Closed once the opening is over, so that a modal loop about to start ends too.
            QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
            return;
        }
    }
    defaultset();
}

void TformDefSet::defaultset() {
    filling_ = true;
    {
        const QSignalBlocker blockSides(ui_->cbCountSize_DS);
        const QSignalBlocker blockNozzles(ui_->cbCountNoz_DS);
        ui_->cbCountSize_DS->setCurrentIndex(1);
        ui_->cbCountNoz_DS->setCurrentIndex(3);
    }
    sides_ = 2;
    nozzles_ = 4;
    sideAddress_ = {1, 2};
    ui_->eAdrTrk1_DS->setText(QStringLiteral("1"));
    ui_->eAdrTrk2_DS->setText(QStringLiteral("2"));
    ui_->gbTrk2_DS->show();
    nara_.fill(0);
    SetNozzleCells(nozzles_);
    for (int side = 0; side < 2; ++side) {
        Mark(AdrEdit(side), false);
        Mark(Grid(side), false);
        Grid(side)->clearSelection();
    }
    filling_ = false;
    RefreshWrite();
}

// Both grids get n cells numbered 1..n and n+1..2n, and the addresses follow.
void TformDefSet::SetNozzleCells(int n) {
    const bool wasFilling = filling_;
    filling_ = true;
    nozzles_ = n;
    for (int side = 0; side < 2; ++side) {
        Grid(side)->SetColumns(n);
        for (int i = 0; i < n; ++i) {
            const int address = side * n + i + 1;
            Grid(side)->SetCell(i, QString::number(address));
            nara_[static_cast<size_t>(side * n + i)] = address;
        }
    }
    for (size_t i = static_cast<size_t>(2 * n); i < nara_.size(); ++i) nara_[i] = 0;
    filling_ = wasFilling;
}

void TformDefSet::ShowMemo() {
    QStringList lines;
    for (const std::string& line : DefaultPresetText(Preset()))
        lines << QString::fromStdString(line);
    ui_->mParamTrk_DS->setPlainText(lines.join(QLatin1Char('\n')));
}

void TformDefSet::cbTypeTrkChange() {
    defaultset();
    ShowMemo();
}

void TformDefSet::cbCountNoz_DSChange() {
    if (filling_) return;
    for (int side = 0; side < 2; ++side) Mark(Grid(side), false);
    SetNozzleCells(ui_->cbCountNoz_DS->currentIndex() + 1);
    if (sides_ == 1) {
        for (int j = 0; j < nozzles_; ++j) nara_[static_cast<size_t>(nozzles_ + j)] = 0;
    }
    RefreshWrite();
}

void TformDefSet::cbCountSize_DSChange() {
    if (filling_) return;
    const int n = nozzles_;
    if (ui_->cbCountSize_DS->currentIndex() == 1) {
        ui_->gbTrk2_DS->show();
        sides_ = 2;
        // Side B's addresses always come back with its group: with one hose per side they
        // would otherwise stay 0 from the one-sided topology and block the write.
        SetNozzleCells(n);
        ui_->eAdrTrk1_DS->setText(QStringLiteral("1"));
        ui_->eAdrTrk2_DS->setText(QStringLiteral("2"));
        sideAddress_ = {1, 2};
        for (int side = 0; side < 2; ++side) {
            Mark(AdrEdit(side), false);
            Mark(Grid(side), false);
        }
    } else {
        ui_->gbTrk2_DS->hide();
        sides_ = 1;
        sideAddress_[1] = 0;
        for (int j = 0; j < n; ++j) nara_[static_cast<size_t>(n + j)] = 0;
        Mark(ui_->eAdrTrk1_DS, sideAddress_[0] == 0);
        Mark(ui_->eAdrTrk2_DS, false);
        Mark(Grid(0), false);
        Mark(Grid(1), false);
        if (n > 2) {
            const bool wasFilling = filling_;
            filling_ = true;
            for (int k = 0; k < n; ++k) {
                nara_[static_cast<size_t>(k)] = k + 1;
                Grid(0)->SetCell(k, QString::number(k + 1));
            }
            filling_ = wasFilling;
        }
    }
    RefreshWrite();
}

void TformDefSet::AdrTrkChange(int side) {
    if (filling_) return;
    auto* edit = static_cast<QLineEdit*>(AdrEdit(side));
    auto* other = static_cast<QLineEdit*>(AdrEdit(1 - side));
    sideAddress_[static_cast<size_t>(side)] = NumberOf(edit->text());
    // With one side, side B's hidden field is not an address in use.
    const bool same = sides_ == 2 && edit->text() == other->text();
    if (same) {
        Mark(edit, true);
    } else {
        if (IsMarked(edit)) Mark(edit, sideAddress_[static_cast<size_t>(side)] == 0);
        // The other field may be red for having been equal to this one.
        if (IsMarked(other) && NumberOf(other->text()) != 0) Mark(other, false);
    }
    RefreshWrite();
}

void TformDefSet::AdrTrkExit(int side) {
    if (sideAddress_[static_cast<size_t>(side)] == 0 && (side == 0 || sides_ == 2))
        Mark(AdrEdit(side), true);
    RefreshWrite();
}

void TformDefSet::GridCellChanged(int side, int column) {
    if (filling_) return;
    const QString text = Grid(side)->Cell(column);
    if (text.isEmpty()) return;
    nara_[static_cast<size_t>(side * nozzles_ + column)] = NumberOf(text);
    const int channels = Channels();
    for (int p = 0; p < channels; ++p) {
        const int value = nara_[static_cast<size_t>(p)];
        bool repeated = false;
        for (int q = 0; q < channels; ++q)
            repeated |= q != p && nara_[static_cast<size_t>(q)] == value;
        if (repeated) {
            Mark(Grid(side), true);
            RefreshWrite();
            return;
        }
        if (value == 0) {
            Mark(Grid(p < nozzles_ ? 0 : 1), true);
            RefreshWrite();
            return;
        }
    }
    // No fault left anywhere: neither grid stays red for a fault that was mended in the other.
    Mark(Grid(0), false);
    Mark(Grid(1), false);
    RefreshWrite();
}

void TformDefSet::GridExit(int side) {
    FieldGrid* grid = Grid(side);
    grid->CommitEdit();
    const bool wasFilling = filling_;
    filling_ = true;
    for (int c = 0; c < grid->columnCount(); ++c) {
        const int value = nara_[static_cast<size_t>(side * nozzles_ + c)];
        if (grid->Cell(c).isEmpty()) grid->SetCell(c, QString::number(value));
        if (value == 0) Mark(grid, true);
    }
    filling_ = wasFilling;
    grid->clearSelection();
    RefreshWrite();
}

void TformDefSet::Mark(QWidget* control, bool red) {
    SetMark(control, red, qobject_cast<FieldGrid*>(control) ? MarkLook::Font : MarkLook::Background,
            marks_);
}

// Write is offered exactly while no control of the topology in use is red.
void TformDefSet::RefreshWrite() {
    bool red = IsMarked(ui_->eAdrTrk1_DS) || IsMarked(Grid(0));
    if (sides_ == 2) red = red || IsMarked(ui_->eAdrTrk2_DS) || IsMarked(Grid(1));
    ui_->bSaveParam_DS->setEnabled(!red);
}

DefaultTopology TformDefSet::Topology() const {
    DefaultTopology t;
    t.sides = sides_;
    t.nozzles = nozzles_;
    t.sideA = sideAddress_[0];
    t.sideB = sides_ == 2 ? sideAddress_[1] : 0;
    t.naraAddresses.assign(nara_.begin(), nara_.begin() + Channels());
    return t;
}

void TformDefSet::bSaveParam_DSClick() {
    bool bad = false;
    const auto check = [&](QWidget* control, bool zero) {
        if (!zero) return;
        Mark(control, true);
        bad = true;
    };
    check(ui_->eAdrTrk1_DS, sideAddress_[0] == 0);
    if (sides_ == 2) check(ui_->eAdrTrk2_DS, sideAddress_[1] == 0);
    for (int i = 0; i < Channels(); ++i) check(Grid(0), nara_[static_cast<size_t>(i)] == 0);
    RefreshWrite();
    if (bad) return;
    const DefaultTopology topology = Topology();
    // Addresses are one byte each and must differ; the marks above catch only the zeros.
    if (const TopologyCheck code = CheckDefaultTopology(topology); code != TopologyCheck::Ok) {
        session_.Ask().Message(this, QString::fromUtf8(DefaultTopologyErrorText(code)));
        return;
    }
    // The button of the main tab is off over an image file; the dialog refuses too.
    if (session_.ImageFile() != nullptr) {
        session_.Ask().Message(this, QString::fromUtf8(kDefaultsNotForImageFile));
        return;
    }
    const DeviceBuffer image = BuildDefaultImage(Preset(), topology);

    RecordStore& store = session_.Store();
    const DemoReplacer replaceDemo = ReplaceDemoFile(store);
    QProgressBar* bar = ui_->progressbar_DS;
    bar->setRange(0, DeviceBuffer::kLength);
    bar->setValue(0);
    if (!store.IsDemo()) bar->show();
    ui_->bSaveParam_DS->setEnabled(false);
    int address = session_.Address();
    const DefaultsWriteResult result = session_.LongExchange(
        QStringLiteral("Запись заводских установок"), DeviceBuffer::kLength, Cancel::NotAllowed,
        [&](ExchangeProgress& progress) {
            return WriteDefaultImage(store, image, address, replaceDemo, [&](int done, int) {
                progress.Step(done);
                // The bar moves on the window thread.
                QMetaObject::invokeMethod(
                    bar, [bar, done] { bar->setValue(done); }, Qt::QueuedConnection);
            });
        });
    ui_->bSaveParam_DS->setEnabled(true);
    if (store.IsDemo() && !result.Written()) {
        session_.Ask().Message(this, QString::fromUtf8(kWriteFailedDemo));
        return;
    }
    for (const std::string& message : result.messages)
        session_.Ask().Message(this, QString::fromStdString(message));
    session_.SetAddress(address);
    // The controller (or the demo image) holds the defaults now, not what the window read.
    session_.Model().ForgetRecords();
    session_.RequestReident(Reident::ImageOrDialog);
    bar->hide();
    accept();
}

} // namespace velmar::ui
