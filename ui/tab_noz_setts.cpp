#include "ui/tab_noz_setts.h"

#include "data/channel_io.h"
#include "data/field_bindings.h"
#include "data/meter_settings.h"
#include "data/read_checks.h"
#include "ui/field_binder.h"
#include "ui/session.h"
#include "ui/tab_ctrlr_setts.h"
#include "ui_tab_noz_setts.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace velmar::ui {

namespace {

constexpr const char* kReadFailed = "Ошибка чтения настроек канала";
constexpr const char* kRead = "Настройки канала считаны";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kSizesFailed = "Ошибка чтения размеров параметров";
constexpr const char* kWriteFailedBox = "Ошибка записи!";
constexpr const char* kWriteFailed = "Ошибка записи";
constexpr const char* kDemoWriteFailed = "Ошибка записи демонстрационного образа demo_trk.bin";
constexpr const char* kWritten = "Настройки канала записаны";

} // namespace

TabNozSetts::TabNozSetts(Session& session, QWidget* parent)
    : ChannelPage(session, parent), ui(std::make_unique<Ui::TabNozSetts>()),
      binder_(new FieldBinder(session, this)) {
    ui->setupUi(this);

    for (const char* text : setts::kPhaseTexts)
        ui->cbMeterPhaseNozSets->addItem(QString::fromUtf8(text));

    binder_->Bind(ui->eImpWLo, bind::eImpWLo, setts_);
    binder_->Bind(ui->eImpWHi, bind::eImpWHi, setts_);
    binder_->Bind(ui->eImpWkLo, bind::eImpWkLo, setts_);
    binder_->Bind(ui->eImpWkHi, bind::eImpWkHi, setts_);
    binder_->Bind(ui->eImpWkWLo, bind::eImpWkWLo, setts_);
    binder_->Bind(ui->eImpLit, bind::eImpLit, setts_, [this] { eImpLitEntered(); });
    binder_->Bind(ui->eCountKor, bind::eCountKor, setts_);

    // cbMeterPhaseNozSetsExit: the item index is the phase byte.
    connect(ui->cbMeterPhaseNozSets, &QComboBox::currentIndexChanged, this, [this](int item) {
        if (item >= 0) setts_.SetMeterPhase(static_cast<uint8_t>(item));
    });
    Wire(ui->cbNumNozSets, ui->bCallNozSets, ui->bSaveNozSets);
}

TabNozSetts::~TabNozSetts() = default;

int TabNozSetts::ReadChannel(int n) {
    if (!CheckChannelNumber(n)) return -1;
    ChannelSetts read;
    RecordStore& store = session_.Store();
    if (session_.Exchange([&] { return ReadChannelRecord(store, kSettsRecord, n, read.data()); }) !=
        kChannelOk) {
        Report(kReadFailed);
        return -1;
    }
    SetChannelShown(n);
    shadow_ = read;
    setts_ = read;
    factor_ = setts_.ImpLit();
    binder_->ShowAll();
    const std::vector<Repair> repairs = CheckSettsOnRead(setts_);
    for (const Repair& repair : repairs) ShowMessage(repair.message.c_str());
    {
        const QSignalBlocker block(ui->cbMeterPhaseNozSets);
        ui->cbMeterPhaseNozSets->setCurrentIndex(setts_.MeterPhase());
    }
    session_.fieldEntry.invalidFieldCount = 0;
    SetStatusText(kRead);
    return 1;
}

int TabNozSetts::SaveChannel(int n) {
    if (!CheckChannelNumber(n)) return -1;
    if (!Unsaved()) {
        SetStatusText(kNoChanges);
        return 0;
    }
    RecordStore& store = session_.Store();
    const ChannelSetts out = setts_;
    const int rc =
        session_.Exchange([&] { return WriteChannelRecord(store, kSettsRecord, n, out.data()); });
    if (rc == kChannelOk) {
        shadow_ = out;
        SetStatusText(kWritten);
        return 0;
    }
    if (rc == kChannelSizesFailed) {
        Report(kSizesFailed);
        return -1;
    }
    ShowMessage(kWriteFailedBox);
    SetStatusText(store.IsDemo() ? kDemoWriteFailed : kWriteFailed);
    return -1;
}

// The parameter block's meter type and phase follow the channels ("ручное" when they differ).
void TabNozSetts::AfterSaveClick() {
    TabCtrlrSetts* params = ParamsTab();
    if (params == nullptr) return;
    RecordStore& store = session_.Store();
    const int channels = ui->cbNumNozSets->count();
    const int rc = session_.Exchange([&] {
        return DeriveCtrlrMeterSettings(store, channels, params->Params(), params->Shadow());
    });
    if (rc == kDeriveWriteFailed) ShowMessage(kDeriveWriteFailedText);
}

void TabNozSetts::eImpLitEntered() {
    const int factor = setts_.ImpLit();
    ScaleCounterPair(setts_, factor_, factor);
    factor_ = factor;
    ShowCalibration();
}

void TabNozSetts::ShowCalibration() {
    for (QLineEdit* edit : {ui->eImpWLo, ui->eImpWHi, ui->eImpWkLo, ui->eImpWkHi, ui->eImpWkWLo})
        binder_->Show(edit);
}

} // namespace velmar::ui
