#include "ui/pages/tab_adv_set.h"

#include "data/field_bindings.h"
#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "data/restart_wait.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/char_key_filter.h"
#include "ui/fields/field_binder.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/panel_passwords.h"
#include "ui/pages/status_line.h"
#include "ui/session.h"
#include "ui_tab_adv_set.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

namespace velmar::ui {

namespace {

constexpr const char* kNotIdentified = "Идентификатор не считан! Считайте идентификатор";
constexpr const char* kReadFailed = "Ошибка чтения параметров";
constexpr const char* kNaraReadFailed = "Ошибка чтения параметров Нара-Азс";
constexpr const char* kReadOnShow = "Параметры были успешно считаны";
constexpr const char* kReadOnButton = "Параметры успешно считаны";
constexpr const char* kFixErrors = "Запись не произведена. Исправьте ошибку и повторите попытку";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kWriteFailed = "Ошибка записи!";
constexpr const char* kNaraWriteFailed = "Ошибка записи параметров";
constexpr const char* kWritten = "Параметры успешно записаны";
constexpr const char* kRelayFailed = "Ошибка";
constexpr const char* kRestartRefused =
    "Контроллер отказался выполнить рестарт; параметры Нара-Азс не записаны";
constexpr const char* kRestartSilent =
    "Контроллер не отвечает после рестарта; параметры Нара-Азс не записаны";

const QString kHeatKeys = QStringLiteral("0123456789,-");

} // namespace

TabAdvSet::TabAdvSet(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabAdvSet>()), entry_(session.FieldEntry()),
      paramsBinder_(new FieldBinder(session.FieldEntry(), this)),
      makeBinder_(new FieldBinder(session.FieldEntry(), this)) {
    ui->setupUi(this);
    NameInputsByLabels(this);
    ui->checkbTrkModes2->setAccessibleName(QStringLiteral("Режимы работы ТРК 2"));
    // Long mode names wrap within the group instead of running off its edge.
    ui->checkbTrkModes2->setWordWrap(true);
    ui->checkbTrkModes2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->checkbTrkModes2->setResizeMode(QListView::Adjust);

    paramsBinder_->Bind(ui->eMinSpeed, bind::eMinSpeed, Params());
    paramsBinder_->Bind(ui->eMinSpTime, bind::eMinSpTime, Params());
    paramsBinder_->Bind(ui->eHydroHit, bind::eHydroHit, Params());
    paramsBinder_->Bind(ui->ePcTimeout, bind::ePcTimeout, Params());
    makeBinder_->Bind(ui->eShimDuration, bind::eShimDuration, Make());
    makeBinder_->Bind(ui->eMinVolNara, bind::eMinVolNara, Make());
    makeBinder_->Bind(ui->eStWaitForceNara, bind::eStWaitForceNara, Make());
    makeBinder_->Bind(ui->eStopTimeNara, bind::eStopTimeNara, Make());
    makeBinder_->Bind(ui->ePbTimeoutNara, bind::ePbTimeoutNara, Make());
    makeBinder_->Bind(ui->eUpgrCountNara, bind::eUpgrCountNara, Make());
    passwords_ = new PanelPasswords(ui->eBmuPAdm, ui->cbBmuPUser, Make(), entry_, this);

    new CharKeyFilter(ui->eHydroHit, kDigits);
    new CharKeyFilter(ui->eTemp_heat_low, kHeatKeys);
    new CharKeyFilter(ui->eTemp_heat_high, kHeatKeys);
    // The heating thresholds are checked on every leave, typed in or not.
    connect(new LeaveWatcher(ui->eTemp_heat_low), &LeaveWatcher::left, this,
            &TabAdvSet::TempHeatLowExit);
    connect(new LeaveWatcher(ui->eTemp_heat_high), &LeaveWatcher::left, this,
            &TabAdvSet::TempHeatHighExit);

    for (const char* text : kTrkModes2Texts) {
        auto* item = new QListWidgetItem(QString::fromUtf8(text), ui->checkbTrkModes2);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    connect(ui->checkbTrkModes2, &QListWidget::itemChanged, this,
            &TabAdvSet::checkbTrkModes2ClickCheck);

    connect(ui->bGetAdvSetTrk, &QPushButton::clicked, this, &TabAdvSet::bGetAdvSetTrkClick);
    connect(ui->bSetAdvSetTrk, &QPushButton::clicked, this, &TabAdvSet::bSetAdvSetTrkClick);
    connect(ui->bTestReleT, &QPushButton::clicked, this, &TabAdvSet::bTestReleTClick);
    ui->bSetAdvSetTrk->setEnabled(false);
}

TabAdvSet::~TabAdvSet() = default;

// ---- Reading ----------------------------------------------------------------------------------

void TabAdvSet::PageShown() {
    // The adjustment password has no record field behind it: --service shows it, locked, so
    // that nothing typed there seems to be kept.
    for (QWidget* w :
         {static_cast<QWidget*>(ui->lYPasswNara), static_cast<QWidget*>(ui->eYPasswNara),
          static_cast<QWidget*>(ui->helpYPasswNara)})
        w->setVisible(session_.Options().serviceMode);
    ui->eYPasswNara->setEnabled(false);
    ui->eUpgrCountNara->setReadOnly(true);

    if (!session_.Identified()) {
        ReportFailure(session_, this, kNotIdentified);
        ui->bGetAdvSetTrk->setEnabled(false);
        ui->bSetAdvSetTrk->setEnabled(false);
        session_.Model().Params().Forget();
        session_.RequestRepaint();
        return;
    }
    if (ReadParams() != 1) {
        ReportFailure(session_, this, kReadFailed);
        ui->bSetAdvSetTrk->setEnabled(false);
        ui->bGetAdvSetTrk->setEnabled(true);
        session_.Model().Params().Forget();
        return;
    }
    FreshStatus(session_, kReadOnShow);
    ui->bGetAdvSetTrk->setEnabled(true);
    ui->bSetAdvSetTrk->setEnabled(true);
    if (ReadNaraSpecific() != 1) {
        session_.Ask().Message(this, QString::fromUtf8(kReadFailed));
        FreshStatus(session_, kNaraReadFailed);
        ui->bSetAdvSetTrk->setEnabled(false);
        ui->bGetAdvSetTrk->setEnabled(true);
        session_.Model().Params().Forget();
    }
}

void TabAdvSet::bGetAdvSetTrkClick() {
    if (ReadParams() != 1 || ReadNaraSpecific() != 1) {
        ReportFailure(session_, this, kReadFailed);
        ui->bSetAdvSetTrk->setEnabled(false);
        return;
    }
    FreshStatus(session_, kReadOnButton);
    ui->bSetAdvSetTrk->setEnabled(true);
}

int TabAdvSet::ReadParams() {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    if (session_.ExchangeFor([&] { return ReadModelParams(model, store); }) != ReadResult::Read)
        return -1;
    const ParamsReadCheck check = CheckParamsOnRead(model.Params().working);
    for (const std::string& text : check.Messages())
        session_.Ask().Message(this, QString::fromStdString(text));
    ShowParams();
    return 1;
}

int TabAdvSet::ReadNaraSpecific() {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    // A short block is not shown either: its missing bytes would be written back as zeros.
    if (session_.ExchangeFor([&] { return ReadModelMake(model, store); }) != ReadResult::Read) {
        ui->gbSetNaraTrk->setEnabled(false);
        return -1;
    }
    ui->gbSetNaraTrk->setEnabled(true);
    ShowMakeBlock();
    return 1;
}

void TabAdvSet::ShowParams() {
    paramsBinder_->ShowAll();
    ui->eTemp_heat_low->setText(QString::number(Params().Temp_heat_low()));
    ui->eTemp_heat_high->setText(QString::number(Params().Temp_heat_high()));
    ResetMark(ui->eTemp_heat_low, MarkLook::Background);
    ResetMark(ui->eTemp_heat_high, MarkLook::Background);
    {
        const QSignalBlocker block(ui->checkbTrkModes2);
        for (int i = 0; i < ui->checkbTrkModes2->count(); ++i)
            ui->checkbTrkModes2->item(i)->setCheckState(
                ((Params().TrkModes2() >> i) & 1u) != 0 ? Qt::Checked : Qt::Unchecked);
    }
    entry_.invalidFieldCount = CountMarked();
}

void TabAdvSet::ShowMakeBlock() {
    makeBinder_->ShowAll();
    passwords_->Show();
    entry_.invalidFieldCount = CountMarked();
}

// ---- Fields with rules of their own -----------------------------------------------------------

void TabAdvSet::TempHeatLowExit() {
    const QByteArray text = ui->eTemp_heat_low->text().toUtf8();
    if (text.isEmpty()) return;
    uint32_t stored = 0;
    const bool valid = CheckEntry(bind::eTemp_heat_low, text.toStdString(), stored);
    SetMark(ui->eTemp_heat_low, !valid, MarkLook::Background, entry_);
    if (valid) Params().Set(params::kTemp_heat_low, stored);
}

// Any value of a signed byte; a number outside -128..127 is marked instead of being stored
// wrapped (300 would otherwise switch the heating off at 44).
void TabAdvSet::TempHeatHighExit() {
    const QByteArray text = ui->eTemp_heat_high->text().toUtf8();
    if (text.isEmpty()) return;
    uint32_t stored = 0;
    const bool valid = CheckEntry(bind::eTemp_heat_high, text.toStdString(), stored);
    SetMark(ui->eTemp_heat_high, !valid, MarkLook::Background, entry_);
    if (valid) Params().Set(params::kTemp_heat_high, stored);
}

// Every click rebuilds the mask from the items: bits 12..15, which have no item, become 0.
void TabAdvSet::checkbTrkModes2ClickCheck() {
    uint16_t modes = 0;
    for (int i = 0; i < ui->checkbTrkModes2->count(); ++i)
        if (ui->checkbTrkModes2->item(i)->checkState() == Qt::Checked)
            modes = static_cast<uint16_t>(modes | (1u << i));
    Params().SetTrkModes2(modes);
}

// ---- Writing ----------------------------------------------------------------------------------

void TabAdvSet::bSetAdvSetTrkClick() {
    // Nothing is written while a field is red: the make-specific block would otherwise go out
    // with the last valid value of a field the engineer is still correcting.
    if (entry_.invalidFieldCount != 0 || CountMarked() != 0) {
        FreshStatus(session_, kFixErrors);
        return;
    }
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const bool makeChanged = model.Make().Unsaved();
    const WriteResult params =
        session_.ExchangeFor([&] { return WriteModelParamsSized(model, store); });
    if (params == WriteResult::NoChanges) {
        FreshStatus(session_, kNoChanges);
    } else {
        if (params != WriteResult::Written) {
            ReportFailure(session_, this, kWriteFailed);
            session_.RequestReident(Reident::WriteFailedOrSpeed);
            session_.ShowMainTab();
            session_.RequestRepaint();
            return;
        }
        RestartResult restart = RestartResult::Ready;
        if (!store.IsDemo()) {
            // A make-specific write follows: it waits until the restarted controller listens.
            restart = session_.ExchangeFor([&] {
                if (makeChanged) return RestartAndAwait(store);
                store.Restart();
                return RestartResult::Ready;
            });
        }
        FreshStatus(session_, kWritten);
        // Nothing is written as if the controller had restarted when it did not, or when it
        // does not answer.
        if (restart == RestartResult::Refused || restart == RestartResult::NoAnswer) {
            ReportFailure(session_, this,
                          restart == RestartResult::Refused ? kRestartRefused : kRestartSilent);
            return;
        }
    }
    const WriteResult make = session_.ExchangeFor([&] { return WriteModelMake(model, store); });
    if (make == WriteResult::Written) {
        if (ReadNaraSpecific() == 1) {
            FreshStatus(session_, kWritten);
            ui->bSetAdvSetTrk->setEnabled(true);
        } else {
            FreshStatus(session_, kReadFailed);
            ui->bSetAdvSetTrk->setEnabled(false);
        }
    } else if (make != WriteResult::NoChanges) {
        ReportFailure(session_, this, kNaraWriteFailed);
    }
}

void TabAdvSet::bTestReleTClick() {
    const uint8_t on = 1;
    RecordStore& store = session_.Store();
    const StoreResult rc =
        session_.ExchangeFor([&] { return store.Write(addr::kRelayIR, 1, &on, kSpaceIR); });
    if (!rc.Ok()) session_.Ask().Message(this, QString::fromUtf8(kRelayFailed));
}

CtrlrParams& TabAdvSet::Params() {
    return session_.Model().Params().working;
}

MakeBlock& TabAdvSet::Make() {
    return session_.Model().Make().working;
}

int TabAdvSet::CountMarked() const {
    int count =
        paramsBinder_->CountMarked() + makeBinder_->CountMarked() + passwords_->CountMarked();
    for (const QWidget* w : {static_cast<const QWidget*>(ui->eTemp_heat_low),
                             static_cast<const QWidget*>(ui->eTemp_heat_high)})
        count += IsMarked(w) ? 1 : 0;
    return count;
}

} // namespace velmar::ui
