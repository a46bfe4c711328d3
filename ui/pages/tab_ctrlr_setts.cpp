#include "ui/pages/tab_ctrlr_setts.h"

#include "data/field_bindings.h"
#include "data/memory_map.h"
#include "data/meter_settings.h"
#include "data/model_writes.h"
#include "data/params_write.h"
#include "data/read_checks.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/fields/field_binder.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/address_warning.h"
#include "ui/port_config.h"
#include "ui/session.h"
#include "ui_tab_ctrlr_setts.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>
#include <array>

namespace velmar::ui {

namespace {

constexpr const char* kNotIdentified = "Идентификатор не считан! Считайте идентификатор";
constexpr const char* kReadFailed = "Ошибка чтения параметров";
constexpr const char* kReadOnShow = "Параметры были успешно считаны";
constexpr const char* kReadOnButton = "Параметры успешно считаны";
constexpr const char* kFixErrors = "Запись не произведена. Исправьте ошибку и повторите попытку";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kWriteFailed = "Ошибка записи!";
constexpr const char* kChannelWriteFailed = "Ошибка записи параметров канала";
constexpr const char* kWritten = "Параметры успешно записаны";
constexpr const char* kRestartFailed =
    "Параметры записаны, но контроллер не ответил на команду рестарта";
constexpr const char* kPortFailed = "Параметры записаны, но порт не переключен на скорость ";
constexpr const char* kAddressLabel = "Работа с Адресом №";
constexpr const char* kLeaveManualMeterType = "                      ВНИМАНИЕ!\n\r"
                                              " Выставлен ручной режим типов датчиков.\n\r"
                                              " Типы будут изменены для всех каналов.\n\r"
                                              "               Вы хотите продолжить?";
constexpr const char* kLeaveManualPhase = "                             ВНИМАНИЕ!\n\r"
                                          " Выставлен ручной режим пересчета фаз датчиков.\n\r"
                                          " Фазы будут изменены для всех каналов.\n\r"
                                          "               Вы хотите продолжить?";

constexpr int kManual = 3; // "ручное" / "ручной режим"
constexpr int kEmptyReadsAllowed = 3;

template <size_t N> void FillList(QComboBox* box, const std::array<const char*, N>& texts) {
    for (const char* text : texts) box->addItem(QString::fromUtf8(text));
}

void FillList(QComboBox* box, int count) {
    for (int i = 1; i <= count; ++i) box->addItem(QString::number(i));
}

// Selects an item without running the box's change handling.
void Select(QComboBox* box, int item) {
    const QSignalBlocker block(box);
    box->setCurrentIndex(item < box->count() ? item : -1);
}

TopologyTexts Texts(const FieldGrid* grid) {
    TopologyTexts texts;
    for (const QString& cell : grid->Cells()) texts.push_back(cell.toStdString());
    return texts;
}

void ShowCells(FieldGrid* grid, const TopologyCells& cells) {
    for (int c = 0; c < grid->columnCount(); ++c)
        grid->SetCell(c, c < static_cast<int>(cells.size())
                             ? QString::number(cells[static_cast<size_t>(c)])
                             : QString());
}

} // namespace

TabCtrlrSetts::TabCtrlrSetts(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabCtrlrSetts>()),
      entry_(session.FieldEntry()), binder_(new FieldBinder(session, this)) {
    ui->setupUi(this);

    FillList(ui->cbSpeedTrk, kSpeedTexts);
    FillList(ui->cbSpeed2CnlTrk, kSpeedTexts);
    FillList(ui->cbCountSideTrk, 2);
    FillList(ui->cbCountNozTrk, kTopologyMaxNozzles);
    FillList(ui->cbMeterType, kMeterTypeTexts);
    FillList(ui->cbPhaseMet, kPhaseMetTexts);
    FillList(ui->cbTypeTbl, kTypeTblTexts);
    for (const char* text : kTrkModesTexts) {
        auto* item = new QListWidgetItem(QString::fromUtf8(text), ui->checkbTrkModes);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }

    // Numeric fields: checked on leaving, stored into the working copy.
    binder_->Bind(ui->eImp_len, bind::eImp_len, Work());
    binder_->Bind(ui->eNozzleWait, bind::eNozzleWait, Work());
    binder_->Bind(ui->eNozzleFat, bind::eNozzleFat, Work());
    binder_->Bind(ui->eSlowStart, bind::eSlowStart, Work());
    binder_->Bind(ui->eMetTOut, bind::eMetTOut, Work());
    binder_->Bind(ui->eSlowLoad, bind::eSlowLoad, Work());
    binder_->Bind(ui->eBitMaskHex, bind::eBitMaskHex, Work(), [this] { TrkModesEntered(); });

    // Lists whose item index is the field.
    const auto storeIndex = [this](QComboBox* box, const Field& field) {
        connect(box, &QComboBox::activated, this, [this, field](int item) {
            if (item >= 0) Work().Set(field, item);
        });
    };
    storeIndex(ui->cbSpeedTrk, params::kSpeedTrk);
    storeIndex(ui->cbSpeed2CnlTrk, params::kSpeed2CnlTrk);
    storeIndex(ui->cbTypeTbl, params::kTypeTbl);
    connect(ui->cbMeterType, &QComboBox::activated, this, &TabCtrlrSetts::cbMeterTypeChange);
    connect(ui->cbPhaseMet, &QComboBox::activated, this, &TabCtrlrSetts::cbPhaseMetChange);
    connect(ui->cbCountSideTrk, &QComboBox::activated, this, &TabCtrlrSetts::cbCountSideTrkChange);
    connect(ui->cbCountNozTrk, &QComboBox::activated, this, &TabCtrlrSetts::cbCountNozTrkChange);

    // Topology controls: digits only, checked on leaving.
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        QLineEdit* adr = AdrEdit(side);
        adr->installEventFilter(new DigitKeyFilter(adr));
        connect(new LeaveWatcher(adr), &LeaveWatcher::left, this,
                [this, side] { AdrTrkExit(side); });
        MapGrid(side)->SetHeaderRow(true);
        connect(NaraGrid(side), &FieldGrid::left, this, [this, side] { NaraGridExit(side); });
        connect(MapGrid(side), &FieldGrid::left, this, [this, side] { MapGridExit(side); });
    }
    SetGridColumns(0);

    connect(ui->checkbTrkModes, &QListWidget::itemChanged, this,
            &TabCtrlrSetts::checkbTrkModesClickCheck);
    connect(ui->bGetParam, &QPushButton::clicked, this, &TabCtrlrSetts::bGetParamClick);
    connect(ui->bSetParam, &QPushButton::clicked, this, &TabCtrlrSetts::bSetParamClick);
    ui->bSetParam->setEnabled(false);
}

TabCtrlrSetts::~TabCtrlrSetts() = default;

// ---- Reading ----------------------------------------------------------------------------------

void TabCtrlrSetts::PageShown() {
    if (!session_.Modes().ctrlrIdentified) {
        Report(kNotIdentified);
        ui->bGetParam->setEnabled(false);
        ui->bSetParam->setEnabled(false);
        session_.Model().Params().Forget();
        setEnabled(false);
        emit session_.repaintRequested();
        return;
    }
    if (ReadParams() != 1) {
        Report(kReadFailed);
        ui->bSetParam->setEnabled(false);
        ui->bGetParam->setEnabled(true);
        setEnabled(true); // a tab locked by an earlier failure would keep bGetParam out of reach
        session_.Model().Params().Forget();
        return;
    }
    SetStatusText(kReadOnShow);
    ui->bGetParam->setEnabled(true);
    ui->bSetParam->setEnabled(true);
    setEnabled(true);
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        NaraGrid(side)->clearSelection();
        MapGrid(side)->clearSelection();
    }
}

void TabCtrlrSetts::bGetParamClick() {
    if (ReadParams() != 1) {
        Report(kReadFailed);
        setEnabled(false);
        ui->bSetParam->setEnabled(false);
        session_.Model().Params().Forget();
        return;
    }
    SetStatusText(kReadOnButton);
    setEnabled(true);
    ui->bSetParam->setEnabled(true);
}

int TabCtrlrSetts::ReadParams() {
    // The self-sized read: the length byte at 0x3100, then the block. An empty answer is asked
    // again; the third in a row fails the read.
    std::array<uint8_t, params::kAreaLength> bytes{};
    int got = 0;
    session_.Exchange([&] {
        for (int attempt = 0; attempt < kEmptyReadsAllowed && got == 0; ++attempt)
            got = session_.Store().Read(addr::kParamsLength, -1, bytes.data(), kSpaceER);
        return got;
    });
    if (got < 1) return -1;
    got = std::min(got, params::kAreaLength - 1);

    session_.Store().Sizes().paramsLength = got;
    session_.Model().Sizes().paramsLength = got;
    session_.Model().Params().Take(CtrlrParams(bytes.data(), got));
    const ParamsReadCheck check = CheckParamsOnRead(Work());
    ShowBlock(check);
    return 1;
}

void TabCtrlrSetts::ShowBlock(const ParamsReadCheck& check) {
    if (check.sizeMismatch) ShowMessage(msg::kParamsSizeMismatch);
    for (const Repair& repair : check.repairs)
        if (!repair.message.empty()) ShowMessage(repair.message.c_str());

    Select(ui->cbSpeedTrk, Work().SpeedTrk());
    Select(ui->cbSpeed2CnlTrk, Work().Speed2CnlTrk());
    Select(ui->cbMeterType, Work().MeterType());
    Select(ui->cbPhaseMet, Work().PhaseMet());
    Select(ui->cbTypeTbl, Work().TypeTbl());
    binder_->ShowAll();
    if (!check.trkModesUnreadable) ShowTrkModes();
    const int sides = Work().CountSideTrk();
    Select(ui->cbCountSideTrk, sides == 1 ? 0 : sides - 1);
    ui->gbSide2->setVisible(ui->cbCountSideTrk->currentIndex() != 0);
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        QLineEdit* adr = AdrEdit(side);
        adr->setText(QString::number(side == 0 ? Work().AdrTrk_1() : Work().AdrTrk_2()));
        ResetMark(adr, MarkLook::Font);
        ResetMark(NaraGrid(side), MarkLook::Font);
        ResetMark(MapGrid(side), MarkLook::Font);
    }

    // The hose count (with the "Север" limit) shapes the grids and numbers the Nara addresses;
    // then the map comes from the block.
    // A hose count the full list cannot show selects "1", like a count of 0.
    RebuildNozzleList(check.countNozItem < kTopologyMaxNozzles ? check.countNozItem : 0, false);
    cbCountNozTrkChange();
    ShowMaps();

    if (check.ksmWrong) ShowMessage(msg::kKsmWrong);

    // The read starts the count afresh; a grid the hose-count handling found bad stays counted,
    // so the count and the red marks agree.
    entry_.invalidFieldCount = CountMarked();
}

void TabCtrlrSetts::ShowTrkModes() {
    const QSignalBlocker block(ui->checkbTrkModes);
    const uint16_t modes = Work().TrkModes();
    for (int i = 0; i < static_cast<int>(kTrkModesItemBits.size()); ++i) {
        const bool on = (modes >> kTrkModesItemBits[static_cast<size_t>(i)]) & 1u;
        ui->checkbTrkModes->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

void TabCtrlrSetts::ShowMaps() {
    const SideCells map = MapFromBlock(Work(), TopologyNozzles(Work()), Work().CountSideTrk());
    ShowCells(MapGrid(0), map.sideA);
    ShowCells(MapGrid(1), map.sideB);
}

// The hose-count list follows the "Север" mode: only "1" and "2" with it. `previous` stays
// selected unless the mode does not allow it (above 2, or 2 with two sides) or
// `severSelectsOne`; then "1" is selected.
void TabCtrlrSetts::RebuildNozzleList(int previous, bool severSelectsOne) {
    QComboBox* box = ui->cbCountNozTrk;
    const bool sever = SeverMode(Work());
    int item = previous;
    {
        const QSignalBlocker block(box);
        box->clear();
        FillList(box, sever ? 2 : kTopologyMaxNozzles);
    }
    if (sever && (severSelectsOne || previous > 1 || (previous == 1 && Sides() == 2))) {
        item = 0;
        Work().SetCountNozTrk(1);
    }
    Select(box, std::max(item, 0));
}

// ---- Topology ---------------------------------------------------------------------------------

void TabCtrlrSetts::cbCountSideTrkChange() {
    const int item = ui->cbCountSideTrk->currentIndex();
    Work().SetCountSideTrk(static_cast<uint8_t>(item + 1));
    if (item == 1) {
        ui->gbSide2->setVisible(true);
        if (SeverMode(Work()) && ui->cbCountNozTrk->currentIndex() > 0) {
            Select(ui->cbCountNozTrk, 0);
            cbCountNozTrkChange();
        }
    } else {
        ui->gbSide2->setVisible(false);
    }
    RefillGrids();
}

void TabCtrlrSetts::cbCountNozTrkChange() {
    int nozzles = ui->cbCountNozTrk->currentIndex() + 1;
    Work().SetCountNozTrk(static_cast<uint8_t>(nozzles));
    if (SeverMode(Work())) {
        int sides = Sides();
        SeverOnNozzlesChange(sides, nozzles);
        if (sides != Sides()) {
            Select(ui->cbCountSideTrk, sides - 1);
            cbCountSideTrkChange();
        }
        if (nozzles != ui->cbCountNozTrk->currentIndex() + 1) {
            Select(ui->cbCountNozTrk, nozzles - 1);
            Work().SetCountNozTrk(static_cast<uint8_t>(nozzles));
        }
    }
    SetGridColumns(TopologyNozzles(Work()));
    RefillGrids();
}

// The counts changed: the Nara grids are numbered afresh, the maps reset to the identity, and
// the old marks of the grids no longer apply. An address field keeps its mark only while its
// text is not a number at all, so a field whose text is not stored never looks good. Then the
// Nara grids are checked again; the first bad one is marked.
void TabCtrlrSetts::RefillGrids() {
    FillNaraAuto();
    FillIdentityMaps();
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        int value = 0;
        QLineEdit* adr = AdrEdit(side);
        SetMark(adr, !ParseTopologyNumber(adr->text().toStdString(), value), MarkLook::Font,
                entry_);
        SetMark(NaraGrid(side), false, MarkLook::Font, entry_);
        SetMark(MapGrid(side), false, MarkLook::Font, entry_);
    }
    if (!CheckNaraSide(0)) return;
    if (Work().CountSideTrk() == 2) CheckNaraSide(1);
}

void TabCtrlrSetts::FillNaraAuto() {
    const SideCells nara = NaraAutoNumber(Work(), TopologyNozzles(Work()));
    ShowCells(NaraGrid(0), nara.sideA);
    ShowCells(NaraGrid(1), nara.sideB);
}

void TabCtrlrSetts::FillIdentityMaps() {
    const SideCells map = IdentityMap(TopologyNozzles(Work()));
    ShowCells(MapGrid(0), map.sideA);
    ShowCells(MapGrid(1), map.sideB);
}

void TabCtrlrSetts::SetGridColumns(int n) {
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        NaraGrid(side)->SetColumns(n);
        MapGrid(side)->SetColumns(n);
    }
}

// Marks the side's Nara grid when it breaks the rules; true when it passes.
bool TabCtrlrSetts::CheckNaraSide(int side) {
    const TopologyTexts other = Sides() == 2 ? Texts(NaraGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckNaraGrid(Texts(NaraGrid(side)), other);
    if (!check.ok()) SetMark(NaraGrid(side), true, MarkLook::Font, entry_);
    return check.ok();
}

void TabCtrlrSetts::NaraGridExit(int side) {
    FieldGrid* grid = NaraGrid(side);
    grid->clearSelection();
    const TopologyTexts other = Sides() == 2 ? Texts(NaraGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckNaraGrid(Texts(grid), other);
    SetMark(grid, !check.ok(), MarkLook::Font, entry_);
    if (check.ok()) StoreNaraCells(Work(), side, check.values);
}

void TabCtrlrSetts::MapGridExit(int side) {
    FieldGrid* grid = MapGrid(side);
    grid->clearSelection();
    const TopologyTexts other = Sides() == 2 ? Texts(MapGrid(1 - side)) : TopologyTexts{};
    const GridCheck check = CheckMapGrid(Texts(grid), other);
    SetMark(grid, !check.ok(), MarkLook::Font, entry_);
    if (check.ok()) StoreMapCells(Work(), side, check.values);
}

void TabCtrlrSetts::AdrTrkExit(int side) {
    QLineEdit* adr = AdrEdit(side);
    QLineEdit* other = AdrEdit(1 - side);
    const std::string otherText = other->text().toStdString();
    const SideAddressCheck check = CheckSideAddress(adr->text().toStdString(), otherText);
    if (!check.parsed) {
        SetMark(adr, true, MarkLook::Font, entry_);
        return;
    }
    SetMark(adr, check.equalText, MarkLook::Font, entry_);
    // The other field loses its mark only when its own text is good.
    int otherValue = 0;
    SetMark(other, check.equalText || !ParseTopologyNumber(otherText, otherValue), MarkLook::Font,
            entry_);
    if (side == 0) {
        Work().SetAdrTrk_1(static_cast<uint8_t>(check.value));
    } else {
        Work().SetAdrTrk_2(static_cast<uint8_t>(check.value));
    }
}

// The grids into the block before a write. A grid whose cells are not all numbers is marked and
// stops the write (it cannot happen after the leave checks, but nothing unchecked is packed).
bool TabCtrlrSetts::PackGrids() {
    const auto cells = [this](FieldGrid* grid, bool shown, TopologyCells& out) {
        out.clear();
        for (const QString& text : grid->Cells()) {
            int v = 0;
            if (!ParseTopologyNumber(text.toStdString(), v)) {
                if (shown) SetMark(grid, true, MarkLook::Font, entry_);
                return !shown; // a hidden side's grid counts as empty from its bad cell on
            }
            out.push_back(v);
        }
        return true;
    };
    for (int side = 0; side < kTopologyMaxSides; ++side) {
        NaraGrid(side)->CommitEdit();
        MapGrid(side)->CommitEdit();
    }
    const bool sideB = Sides() == 2;
    SideCells nara;
    SideCells map;
    bool ok = cells(NaraGrid(0), true, nara.sideA);
    ok = cells(NaraGrid(1), sideB, nara.sideB) && ok;
    ok = cells(MapGrid(0), true, map.sideA) && ok;
    ok = cells(MapGrid(1), sideB, map.sideB) && ok;
    if (!ok) return false;
    PackTopology(Work(), nara, map);
    return true;
}

// ---- Mode mask --------------------------------------------------------------------------------

void TabCtrlrSetts::checkbTrkModesClickCheck() {
    // Items 0..7 are bits 0..7, items 8..14 bits 9..15: bit 8 is cleared by any click.
    uint32_t modes = 0;
    uint32_t bit = 1;
    for (int i = 0; i < ui->checkbTrkModes->count(); ++i) {
        if (ui->checkbTrkModes->item(i)->checkState() == Qt::Checked) modes |= bit;
        bit = bit == 128 ? 512 : bit * 2;
    }
    Work().SetTrkModes(static_cast<uint16_t>(modes));
    AfterTrkModesChange(false);
    binder_->Show(ui->eBitMaskHex);
}

void TabCtrlrSetts::TrkModesEntered() {
    ShowTrkModes();
    AfterTrkModesChange(true);
}

// The mode mask changed: the hose-count list follows the "Север" mode. The grids are reshaped
// (which renumbers them and resets the maps) only when the hose count actually changed, so that
// switching an unrelated mode does not throw away the physical map.
void TabCtrlrSetts::AfterTrkModesChange(bool severSelectsOne) {
    const int before = ui->cbCountNozTrk->currentIndex();
    RebuildNozzleList(before, severSelectsOne);
    if (ui->cbCountNozTrk->currentIndex() != before) cbCountNozTrkChange();
}

// ---- Meter type and phase ---------------------------------------------------------------------

void TabCtrlrSetts::cbMeterTypeChange(int item) {
    if (item < 0) return;
    if (Work().MeterType() == kManual && item != kManual &&
        !session_.Ask().Warn(this, QString::fromUtf8(kLeaveManualMeterType))) {
        Select(ui->cbMeterType, kManual);
        return;
    }
    Work().SetMeterType(static_cast<uint8_t>(item));
}

void TabCtrlrSetts::cbPhaseMetChange(int item) {
    if (item < 0) return;
    if (Work().PhaseMet() == kManual && item != kManual &&
        !session_.Ask().Warn(this, QString::fromUtf8(kLeaveManualPhase))) {
        Select(ui->cbPhaseMet, kManual);
        return;
    }
    Work().SetPhaseMet(static_cast<uint8_t>(item));
}

// ---- Writing ----------------------------------------------------------------------------------

void TabCtrlrSetts::bSetParamClick() {
    // A red control on this page also stops the write when a read elsewhere reset the count.
    if (entry_.invalidFieldCount != 0 || CountMarked() != 0 || !PackGrids()) {
        SetStatusText(kFixErrors);
        return;
    }
    const bool demo = session_.Store().IsDemo();
    int newAddress = session_.Address();
    Work().UpdateKsm();
    const bool newSpeed = Work().SpeedTrk() != Read().SpeedTrk();
    if (newSpeed) session_.RequestReident(Reident::WriteFailedOrSpeed);

    if (!demo && Work().AdrTrk_1() != Read().AdrTrk_1()) {
        session_.RequestReident(Reident::SideAddress);
        newAddress = Work().AdrTrk_1();
        if (!NewAddressConfirmed()) {
            // Nothing is written; the identification already requested runs as the window
            // repaints after the question.
            emit session_.repaintRequested();
            return;
        }
    }

    const int addressBefore = session_.Address();
    const ParamsWriteOutcome out = session_.WriteParamsAndFollow(newAddress, newSpeed);
    switch (out.result) {
    case ParamsWriteResult::NotRead:
    case ParamsWriteResult::SizesFailed:
    case ParamsWriteResult::WriteFailed:
        WriteFailed(QString::fromUtf8(kWriteFailed));
        return;
    case ParamsWriteResult::RestartFailed:
        WriteFailed(QString::fromUtf8(
            out.restart == RestartSeen::Lost ? RestartSeenText(out.restart) : kRestartFailed));
        return;
    case ParamsWriteResult::PortFailed:
        WriteFailed(WithPortErrorReason(QString::fromUtf8(kPortFailed) +
                                            QString::number(kSpeedBauds[Work().SpeedTrk()]),
                                        out.portCode));
        return;
    case ParamsWriteResult::ChannelsFailed:
        ShowAddressIfChanged(addressBefore);
        WriteFailed(QString::fromUtf8(kChannelWriteFailed));
        return;
    case ParamsWriteResult::NoChanges:
        SetStatusText(kNoChanges);
        break;
    case ParamsWriteResult::Written:
        ShowAddressIfChanged(addressBefore);
        break;
    }

    // Identification runs again at the new address once the window applies its repaint rules,
    // after this write has reported.
    const bool reident = session_.AnyReidentRequested();
    if (reident) {
        session_.SetAddress(newAddress);
        emit session_.showMainTabRequested();
    }
    if (out.result == ParamsWriteResult::Written) {
        SetStatusText(kWritten);
        // The engineer learns that the restart was not confirmed, and where the controller is.
        if (out.restart != RestartSeen::Answered) ShowMessage(RestartSeenText(out.restart));
    }
    if (reident) emit session_.repaintRequested();
}

// A new side-A address with one side: when another controller already answers there, the
// engineer is warned and may decline. True to go on with the write.
bool TabCtrlrSetts::NewAddressConfirmed() {
    if (Work().CountSideTrk() != 1) return true;
    const PortSlot slot = session_.Slot();
    const CtrlrParams block = Work();
    const bool inUse =
        session_.Exchange([slot, &block] { return SideAddressInUse(slot, block); }) != 0;
    return !inUse || session_.Ask().Warn(this, QString::fromUtf8(kAddressInUse));
}

// A write failed: reported, and the controller is identified again from the main tab.
void TabCtrlrSetts::WriteFailed(const QString& text) {
    Report(text);
    session_.RequestReident(Reident::WriteFailedOrSpeed);
    emit session_.showMainTabRequested();
    emit session_.repaintRequested();
}

// The number label follows the address the written block took into use.
void TabCtrlrSetts::ShowAddressIfChanged(int before) {
    if (session_.Address() != before)
        session_.SetNumberLabel(QString::fromUtf8(kAddressLabel) +
                                QString::number(session_.Address()));
}

// ---- Helpers ----------------------------------------------------------------------------------

void TabCtrlrSetts::ShowMessage(const char* text) {
    session_.Ask().Message(this, QString::fromUtf8(text));
}

void TabCtrlrSetts::Report(const char* text) {
    Report(QString::fromUtf8(text));
}

void TabCtrlrSetts::Report(const QString& text) {
    session_.Ask().Message(this, text);
    SetStatusText(text);
}

void TabCtrlrSetts::SetStatusText(const char* text) {
    SetStatusText(QString::fromUtf8(text));
}

// The status line is emptied first, so that a repeated text visibly changes.
void TabCtrlrSetts::SetStatusText(const QString& text) {
    session_.SetStatus(QString());
    session_.RepaintStatus();
    session_.SetStatus(text);
}

CtrlrParams& TabCtrlrSetts::Work() {
    return session_.Model().Params().working;
}

const CtrlrParams& TabCtrlrSetts::Read() const {
    return session_.Model().Params().read;
}

int TabCtrlrSetts::CountMarked() const {
    int count = binder_->CountMarked();
    for (int side = 0; side < kTopologyMaxSides; ++side)
        for (const QWidget* control : {static_cast<const QWidget*>(AdrEdit(side)),
                                       static_cast<const QWidget*>(NaraGrid(side)),
                                       static_cast<const QWidget*>(MapGrid(side))})
            count += IsMarked(control) ? 1 : 0;
    return count;
}

int TabCtrlrSetts::Sides() const {
    return ui->cbCountSideTrk->currentIndex() + 1;
}

FieldGrid* TabCtrlrSetts::NaraGrid(int side) const {
    return side == 0 ? ui->sgAdrNaraTrk_1 : ui->sgAdrNaraTrk_2;
}

FieldGrid* TabCtrlrSetts::MapGrid(int side) const {
    return side == 0 ? ui->sgPhysToLogTrk_1 : ui->sgPhysToLogTrk_2;
}

QLineEdit* TabCtrlrSetts::AdrEdit(int side) const {
    return side == 0 ? ui->eAdrTrk_1 : ui->eAdrTrk_2;
}

} // namespace velmar::ui
