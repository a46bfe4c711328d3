// The initial setup dialog: its controls, loading the block and the channel settings, and the
// write. Entry and its checks are in global_setts_entry.cpp.
#include "ui/dialogs/global_setts.h"

#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/setup_write.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/dialogs/hydro_hit_entry.h"
#include "ui/fields/field_grid.h"
#include "ui/session.h"
#include "ui_global_setts.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <array>

namespace velmar::ui {

namespace {

constexpr const char* kNoLink = "Ошибка связи с ТРК";
constexpr const char* kNoLinkLine = "Связь с контроллером не установлена";
constexpr const char* kReadFailed = "Ошибка чтения";
constexpr const char* kSizeMismatch =
    "Внимание: размер структуры параметров не совпадает с размером считанной информации";
constexpr const char* kKsmRecomputed = "Внимание!!! КСМ не верна! КСМ была пересчитана";
constexpr int kSettsFailuresAllowed = 3; // of the channel settings, in all

constexpr std::array<const char*, 7> kTableItems{"T_107     ", "T_105     ", "T_202     ",
                                                 "T_217     ", "T_218     ", "T_209     ",
                                                 "T_209_17 "};
constexpr std::array<const char*, 8> kNozzleItems{"1 пистолет",   "2 пистолета",  "3 пистолета",
                                                  "4 пистолета",  "5 пистолетов", "6 пистолетов",
                                                  "7 пистолетов", "8 пистолетов"};

bool ZeroOrBetween(uint32_t v, uint32_t low, uint32_t high) {
    return v == 0 || (v >= low && v <= high);
}

} // namespace

TfGlobalSetts::TfGlobalSetts(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), ui_(std::make_unique<Ui::TfGlobalSetts>()),
      meterGroup_(new QButtonGroup(this)), phaseGroup_(new QButtonGroup(this)) {
    ui_->setupUi(this);
    ui_->cbNumSideGlobal->addItems({QStringLiteral("1 сторона"), QStringLiteral("2 стороны")});
    for (const char* item : kNozzleItems) ui_->cbNumNozGlobal->addItem(QString::fromUtf8(item));
    for (const char* item : kTableItems) ui_->cbTblTypeGlobal->addItem(QString::fromUtf8(item));
    meterGroup_->addButton(ui_->rbMeter100Global, 0);
    meterGroup_->addButton(ui_->rbMeter256Global, 1);
    phaseGroup_->addButton(ui_->rbPhase1Global, 0);
    phaseGroup_->addButton(ui_->rbPhase2Global, 1);
    phaseGroup_->addButton(ui_->rbPhase3Global, 2);
    ui_->rbMeter100Global->setChecked(true);
    ui_->rbPhase2Global->setChecked(true);
    ui_->progrSave->hide();

    digits_ = {
        {ui_->eSlowLoadGlobal, params::kSlowLoad, 25600, 100, {}},
        {ui_->eSlowStartGlobal, params::kSlowStart, 25600, 100, {}},
        {ui_->eNozzleFatGlobal, params::kNozzleFat, 256, 10, {}},
        {ui_->eMetTimeoutGlobal, params::kMetTOut, 256, 1, {}},
        {ui_->ePcTimeoutGlobal, params::kPcTimeout, 256, 1,
         [](uint32_t v) { return ZeroOrBetween(v, 3, 60); }},
        {ui_->eMinSpeedGlobal, params::kMinSpeed, 256, 1, [](uint32_t v) { return v <= 30; }},
        {ui_->eMinSpTimeGlobal, params::kMinSpTime, 256, 1,
         [](uint32_t v) { return ZeroOrBetween(v, 3, 180); }},
        {ui_->eNozzleWaitGlobal, params::kNozzleWait, 256, 1, [](uint32_t v) { return v <= 20; }},
    };
    for (const DigitField& f : digits_) {
        f.edit->installEventFilter(new DigitKeyFilter(f.edit));
        connect(new LeaveWatcher(f.edit), &LeaveWatcher::left, this, [this, &f] { DigitExit(f); });
    }
    ui_->eHydroHitGlobal->installEventFilter(new VolumeKeyFilter(ui_->eHydroHitGlobal));
    connect(new LeaveWatcher(ui_->eHydroHitGlobal), &LeaveWatcher::left, this,
            &TfGlobalSetts::HydroHitExit);
    connect(new LeaveWatcher(ui_->eAdrUtrkGlobal), &LeaveWatcher::left, this,
            [this] { AddressExit(ui_->eAdrUtrkGlobal, true); });
    connect(new LeaveWatcher(ui_->eAdrNaraGlobal), &LeaveWatcher::left, this,
            [this] { AddressExit(ui_->eAdrNaraGlobal, false); });

    // Every input control is named by its caption.
    const auto name = [](QWidget* control, const QLabel* caption) {
        control->setAccessibleName(caption->text());
    };
    name(ui_->cbNumSideGlobal, ui_->lNumSideGlobal);
    name(ui_->cbNumNozGlobal, ui_->lNumNozGlobal);
    name(ui_->eAdrUtrkGlobal, ui_->lAdrUtrkGlobal);
    name(ui_->eAdrNaraGlobal, ui_->lAdrNaraGlobal);
    name(ui_->cbTblTypeGlobal, ui_->lTblTypeGlobal);
    name(ui_->eSlowLoadGlobal, ui_->lSlowLoadGlobal);
    name(ui_->eSlowStartGlobal, ui_->lSlowStartGlobal);
    name(ui_->eNozzleFatGlobal, ui_->lNozzleFatGlobal);
    name(ui_->eMetTimeoutGlobal, ui_->lMetTimeoutGlobal);
    name(ui_->ePcTimeoutGlobal, ui_->lPcTimeoutGlobal);
    name(ui_->eMinSpeedGlobal, ui_->lMinSpeedGlobal);
    name(ui_->eMinSpTimeGlobal, ui_->lMinSpTimeGlobal);
    name(ui_->eNozzleWaitGlobal, ui_->lNozzleWaitGlobal);
    name(ui_->eHydroHitGlobal, ui_->lHydroHitGlobal);
    for (QAbstractButton* b : meterGroup_->buttons()) b->setAccessibleName(b->text());
    for (QAbstractButton* b : phaseGroup_->buttons()) b->setAccessibleName(b->text());

    connect(ui_->cbNumSideGlobal, &QComboBox::activated, this,
            &TfGlobalSetts::cbNumSideGlobalChange);
    connect(ui_->cbNumNozGlobal, &QComboBox::activated, this, &TfGlobalSetts::cbNumNozGlobalChange);
    connect(ui_->bSaveParamGlobal, &QPushButton::clicked, this,
            &TfGlobalSetts::bSaveParamGlobalClick);
    connect(ui_->helpSideGlobal, &QToolButton::clicked, this, [this] {
        Help("Количество сторон, обслуживаемых контроллером. Выберите из списка или вызовите "
             "контексное меню");
    });
    connect(ui_->helpNozGlobal, &QToolButton::clicked, this, [this] {
        Help("Количество пистолетов, обслуживаемых контроллером. Выберите из списка или "
             "вызовите контексное меню");
    });
    connect(ui_->helpUtrkGlobal, &QToolButton::clicked, this,
            [this] { Help("Адреса сторон контроллера. Вводятся через запятую"); });
    connect(ui_->helpNaraGlobal, &QToolButton::clicked, this,
            [this] { Help("Адреса каналов(пистолетов) контроллера. Вводятся через запятую"); });
    connect(ui_->helpTblGlobal, &QToolButton::clicked, this, [this] { Help("Тип табло."); });
}

TfGlobalSetts::~TfGlobalSetts() = default;

void TfGlobalSetts::Help(const char* text) {
    session_.Ask().Message(this, QString::fromUtf8(text));
}

// The opening reads (and may ask) before the window exists: run from its show event, its nested
// event loops left the window unsized at the screen's corner on X11.
// Qt sizes a new window to at most two thirds of the screen, which leaves this wide dialog below
// its preferred size on a 1280-pixel screen: it opens at its preferred size where that fits.
void TfGlobalSetts::setVisible(bool visible) {
    if (visible && !isVisible()) {
        FormShow();
        if (!testAttribute(Qt::WA_Resized) && screen() != nullptr)
            resize(sizeHint().boundedTo(screen()->availableGeometry().size()));
    }
    QDialog::setVisible(visible);
}

// ---- Loading ----------------------------------------------------------------------------------

void TfGlobalSetts::FormShow() {
    setWindowTitle(QStringLiteral("Первичная настройка"));
    ui_->lbMonSettsGlobal->clear();
    loaded_ = false;
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const ReadResult block = session_.ExchangeFor([&] { return ReadModelParams(model, store); });
    if (block != ReadResult::Read) {
        session_.Ask().Message(this, QString::fromUtf8(kNoLink));
        ui_->bSaveParamGlobal->setEnabled(false);
        if (block != ReadResult::Empty)
            ui_->lbMonSettsGlobal->addItem(QString::fromUtf8(kNoLinkLine));
        return;
    }
    if (model.Params().read.Length() != params::kUsualLength)
        session_.Ask().Message(this, QString::fromUtf8(kSizeMismatch));
    if (!Work().KsmValid()) {
        session_.Ask().Message(this, QString::fromUtf8(kKsmRecomputed));
        Work().UpdateKsm();
    }
    if (session_.ExchangeFor([&] {
            return ReadModelAllSetts(model, store, kSettsFailuresAllowed);
        }) != ReadResult::Read) {
        session_.Ask().Message(this, QString::fromUtf8(kReadFailed));
        ui_->bSaveParamGlobal->setEnabled(false);
        return;
    }
    // Bad counts, meter, phase and display values are replaced here (a side count of 0, which
    // has no item either, becomes 1 as well); they reach the controller only with a write.
    const InitialSetupLoad load = LoadInitialSetup(Work());
    for (const std::string& message : load.messages)
        session_.Ask().Message(this, QString::fromStdString(message));
    sides_ = load.sides;
    nozzles_ = load.nozzles;
    sideAddresses_ = load.sideAddresses;
    for (int i = 0; i < sides_ * nozzles_; ++i)
        channelAddresses_[static_cast<size_t>(i)] = load.channelAddresses[static_cast<size_t>(i)];

    filling_ = true;
    ui_->cbNumSideGlobal->setCurrentIndex(load.sidesItem);
    // Hose counts 9..15 of one side have no item: the list shows none and the count read stays.
    ui_->cbNumNozGlobal->setCurrentIndex(load.nozzlesItem);
    ui_->cbTblTypeGlobal->setCurrentIndex(load.tableItem);
    meterGroup_->button(load.meterItem)->setChecked(true);
    phaseGroup_->button(load.phaseItem)->setChecked(true);
    ui_->eAdrUtrkGlobal->setText(QString::fromStdString(load.sideText));
    ui_->eAdrNaraGlobal->setText(QString::fromStdString(load.channelText));
    ShowFields();
    filling_ = false;
    loaded_ = true;
    FillMonitor();
    RefreshWrite();
}

void TfGlobalSetts::ShowFields() {
    for (const DigitField& f : digits_)
        f.edit->setText(QString::number(Work().Get(f.field) * f.scale));
    ui_->eHydroHitGlobal->setText(HydroHitText(Work().HydroHit()));
}

void TfGlobalSetts::FillMonitor() {
    ui_->lbMonSettsGlobal->clear();
    for (const std::string& line : MonitorListLines(session_.Address(), Work(), WorkingSetts()))
        ui_->lbMonSettsGlobal->addItem(QString::fromStdString(line));
}

// ---- Entry --------------------------------------------------------------------------------//
// ---- Writing ------------------------------------------------------------------------------

void TfGlobalSetts::bSaveParamGlobalClick() {
    if (!loaded_ || marks_.invalidFieldCount != 0) return;
    InitialSetupChoice choice;
    choice.sides = ui_->cbNumSideGlobal->currentIndex() + 1;
    choice.nozzles = nozzles_;
    choice.sideAddresses = sideAddresses_;
    choice.channelAddresses = channelAddresses_;
    choice.tableType = ui_->cbTblTypeGlobal->currentIndex();
    choice.meterType = meterGroup_->checkedId();
    choice.phase = phaseGroup_->checkedId();
    if (!InitialSetupChoiceValid(choice)) {
        // Lists the engineer has not left since the counts changed: their check shows what is
        // wrong.
        AddressExit(ui_->eAdrUtrkGlobal, true);
        AddressExit(ui_->eAdrNaraGlobal, false);
        return;
    }
    for (const DigitField& f : digits_) StoreDigit(f);

    const int total = Work().Length() + kChannelCount * (setts::kLength + regs::kLength);
    QProgressBar* bar = ui_->progrSave;
    bar->setRange(0, total);
    bar->setValue(0);
    bar->show();
    ui_->bSaveParamGlobal->setEnabled(false);
    ui_->lErrorWriteGlobal->clear();
    session_.RequestReident(Reident::ImageOrDialog);

    ControllerModel& model = session_.Model();
    ChannelSettsSet setts = WorkingSetts();
    ApplyInitialSetup(choice, Work(), setts);
    for (int n = 0; n < kChannelCount; ++n) model.Setts(n).working = setts[static_cast<size_t>(n)];
    RecordStore& store = session_.Store();
    const SetupWriteResult result = session_.LongExchange(
        QStringLiteral("Запись первичной настройки"), total, Cancel::NotAllowed,
        [&](ExchangeProgress& progress) {
            return WriteModelInitialSetup(model, store, [&](int done, int) {
                progress.Step(done);
                QMetaObject::invokeMethod(
                    bar, [bar, done] { bar->setValue(done); }, Qt::QueuedConnection);
            });
        });
    bar->hide();
    if (result.Failed()) ui_->lErrorWriteGlobal->setText(QString::fromUtf8(kSetupWriteFailedText));
    RefreshWrite();
    if (!result.Failed()) accept();
}

const CtrlrParams& TfGlobalSetts::Params() const {
    return session_.Model().Params().working;
}

CtrlrParams& TfGlobalSetts::Work() {
    return session_.Model().Params().working;
}

ChannelSettsSet TfGlobalSetts::WorkingSetts() const {
    ChannelSettsSet setts{};
    for (int n = 0; n < kChannelCount; ++n)
        setts[static_cast<size_t>(n)] = session_.Model().Setts(n).working;
    return setts;
}

} // namespace velmar::ui
