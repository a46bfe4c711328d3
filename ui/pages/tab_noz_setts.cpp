#include "ui/pages/tab_noz_setts.h"

#include "data/channel_io.h"
#include "data/field_bindings.h"
#include "data/meter_settings.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "ui/fields/field_binder.h"
#include "ui/session.h"
#include "ui_tab_noz_setts.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

namespace velmar::ui {

namespace {

constexpr const char* kReadFailed = "Ошибка чтения настроек канала";
constexpr const char* kRead = "Настройки канала считаны";
constexpr const char* kWritten = "Настройки канала записаны";

} // namespace

TabNozSetts::TabNozSetts(Session& session, QWidget* parent)
    : ChannelPage(session, parent), ui(std::make_unique<Ui::TabNozSetts>()),
      binder_(new FieldBinder(session.FieldEntry(), this)) {
    ui->setupUi(this);

    for (const char* text : setts::kPhaseTexts)
        ui->cbMeterPhaseNozSets->addItem(QString::fromUtf8(text));

    const auto shown = [this]() -> ChannelSetts& { return Setts(); };
    binder_->Bind(ui->eImpWLo, bind::eImpWLo, shown);
    binder_->Bind(ui->eImpWHi, bind::eImpWHi, shown);
    binder_->Bind(ui->eImpWkLo, bind::eImpWkLo, shown);
    binder_->Bind(ui->eImpWkHi, bind::eImpWkHi, shown);
    binder_->Bind(ui->eImpWkWLo, bind::eImpWkWLo, shown);
    binder_->Bind(ui->eImpLit, bind::eImpLit, shown, [this] { eImpLitEntered(); });
    binder_->Bind(ui->eCountKor, bind::eCountKor, shown);

    // cbMeterPhaseNozSetsExit: the item index is the phase byte.
    connect(ui->cbMeterPhaseNozSets, &QComboBox::activated, this, [this](int item) {
        if (item >= 0) Setts().SetMeterPhase(static_cast<uint8_t>(item));
    });
    Wire(ui->cbNumNozSets, ui->bCallNozSets, ui->bSaveNozSets);
}

TabNozSetts::~TabNozSetts() = default;

ChannelResult TabNozSetts::ReadChannel(int n) {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    if (!ReadRecord(
            n, [&] { return ReadModelChannelSetts(model, store, n); }, kReadFailed))
        return ChannelResult::Failed;
    SetChannelShown(n);
    factor_ = Setts().ImpLit();
    binder_->ShowAll();
    const std::vector<Repair> repairs = CheckSettsOnRead(Setts());
    for (const Repair& repair : repairs) ShowMessage(repair.message.c_str());
    {
        const QSignalBlocker block(ui->cbMeterPhaseNozSets);
        ui->cbMeterPhaseNozSets->setCurrentIndex(Setts().MeterPhase());
    }
    session_.FieldEntry().invalidFieldCount = 0;
    SetStatusText(kRead);
    return ChannelResult::Done;
}

ChannelResult TabNozSetts::SaveChannel(int n) {
    if (!CheckChannelNumber(n)) return ChannelResult::Failed;
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    return WriteRecord(
        1, [&] { return WriteModelChannelSetts(model, store, n); }, kWritten);
}

bool TabNozSetts::Unsaved() const {
    return ChannelShown() >= 0 && session_.Model().Setts(ChannelShown()).Unsaved();
}

ChannelSetts& TabNozSetts::Setts() {
    return session_.Model().Setts(std::max(ChannelShown(), 0)).working;
}

// The parameter block's meter type and phase follow the channels ("ручное" when they differ),
// after every save, whether it was asked for with the button or with the question on leaving a
// channel.
void TabNozSetts::AfterSave() {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const int channels = ui->cbNumNozSets->count();
    const MeterDeriveCode rc = session_.ExchangeFor([&] {
        // A save restarts the controller, which hears nothing until it has started again.
        if (!store.IsDemo() && !store.AwaitAnswer().Ok()) return MeterDeriveCode::ReadFailed;
        return DeriveModelMeterSettings(model, store, channels).code;
    });
    if (rc == MeterDeriveCode::WriteFailed) ShowMessage(kDeriveWriteFailedText);
    // The meter type of the parameter block no longer follows the channels: not a success.
    if (rc == MeterDeriveCode::ReadFailed) Report(kReadFailed);
}

void TabNozSetts::eImpLitEntered() {
    const int factor = Setts().ImpLit();
    ScaleCounterPair(Setts(), factor_, factor);
    factor_ = factor;
    ShowCalibration();
}

void TabNozSetts::ShowCalibration() {
    for (QLineEdit* edit : {ui->eImpWLo, ui->eImpWHi, ui->eImpWkLo, ui->eImpWkHi, ui->eImpWkWLo})
        binder_->Show(edit);
}

} // namespace velmar::ui
