// The controller settings tab: its controls, reading the block and showing it, the mode mask and
// the meter settings. The topology and the write have files of their own.
#include "ui/pages/tab_ctrlr_setts.h"

#include "data/field_bindings.h"
#include "data/memory_map.h"
#include "data/meter_settings.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/fields/field_binder.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/tab_ctrlr_setts_lists.h"
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
constexpr const char* kLeaveManualMeterType = "                      ВНИМАНИЕ!\n\r"
                                              " Выставлен ручной режим типов датчиков.\n\r"
                                              " Типы будут изменены для всех каналов.\n\r"
                                              "               Вы хотите продолжить?";
constexpr const char* kLeaveManualPhase = "                             ВНИМАНИЕ!\n\r"
                                          " Выставлен ручной режим пересчета фаз датчиков.\n\r"
                                          " Фазы будут изменены для всех каналов.\n\r"
                                          "               Вы хотите продолжить?";

constexpr int kManual = 3; // "ручное" / "ручной режим"

template <size_t N> void FillList(QComboBox* box, const std::array<const char*, N>& texts) {
    for (const char* text : texts) box->addItem(QString::fromUtf8(text));
}

void FillList(QComboBox* box, int count) {
    for (int i = 1; i <= count; ++i) box->addItem(QString::number(i));
}

} // namespace

using ctrlr_setts::Select;
using ctrlr_setts::ShowCells;

TabCtrlrSetts::TabCtrlrSetts(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabCtrlrSetts>()),
      entry_(session.FieldEntry()), binder_(new FieldBinder(session.FieldEntry(), this)) {
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
    if (!session_.Identified()) {
        Report(kNotIdentified);
        ui->bGetParam->setEnabled(false);
        ui->bSetParam->setEnabled(false);
        session_.Model().Params().Forget();
        setEnabled(false);
        session_.RequestRepaint();
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
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    if (session_.ExchangeFor([&] { return ReadModelParams(model, store); }) != ReadResult::Read)
        return -1;
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
