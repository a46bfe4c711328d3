#include "ui/pages/tab_ident.h"

#include "data/ident_sequence.h"
#include "protocol/cp1251_text.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/fields/enabling_rules.h"
#include "ui/fields/hint_table.h"
#include "ui/fields/warning_texts.h"
#include "ui/pages/ctrlr_search.h"
#include "ui/pages/ident_service_tools.h"
#include "ui/pages/image_transfer.h"
#include "ui/session.h"
#include "ui_tab_ident.h"

#include <QDialog>

namespace velmar::ui {

TabIdent::TabIdent(Session& session, QWidget* parent)
    : Page(session, parent), ui_(std::make_unique<Ui::TabIdent>()) {
    ui_->setupUi(this);
    ui_->lSimulState->hide();
    ui_->TestEdit->hide();
    ui_->TestButton->hide();
    ui_->lImageStat->hide();
    ui_->progrImage->hide();
    ui_->bReadTemper->setEnabled(false);

    search_ = new CtrlrSearch(session_,
                              {ui_->bCallIdent, ui_->bSimImp, ui_->bGlobalSet,
                               ui_->bGlobalDefaultSet, ui_->bReset, ui_->bSaveImage,
                               ui_->bLoadImage, ui_->bReservCall, ui_->bLoadFisk},
                              this);
    connect(search_, &CtrlrSearch::lineReady, this, &TabIdent::AddIdentLine);
    new IdentServiceTools(session_, *ui_, this);
    image_ = new ImageTransfer(
        session_, *ui_->progrImage, *ui_->lImageStat, [this] { IdentToForm(); }, this);

    connect(ui_->bCallIdent, &QPushButton::clicked, this, &TabIdent::bCallIdentClick);
    connect(ui_->bReservCall, &QPushButton::clicked, this, &TabIdent::bReservCallClick);
    connect(ui_->bFindCtrlr, &QPushButton::clicked, this, &TabIdent::bFindCtrlrClick);
    connect(ui_->bReset, &QPushButton::clicked, this, &TabIdent::bResetClick);
    connect(ui_->bSimImp, &QPushButton::clicked, this, &TabIdent::bSimImpClick);
    connect(ui_->bSaveImage, &QPushButton::clicked, image_, &ImageTransfer::bSaveImageClick);
    connect(ui_->bLoadImage, &QPushButton::clicked, image_, &ImageTransfer::bLoadImageClick);
    connect(ui_->bGlobalSet, &QPushButton::clicked, this, &TabIdent::bGlobalSetClick);
    connect(ui_->bGlobalDefaultSet, &QPushButton::clicked, this, &TabIdent::bGlobalDefaultSetClick);
    connect(ui_->bSaveParamToText, &QPushButton::clicked, this, &TabIdent::bSaveParamToTextClick);
}

TabIdent::~TabIdent() = default;

bool TabIdent::SearchRunning() const {
    return search_->Running();
}

void TabIdent::StopSearch() {
    search_->Stop();
}

void TabIdent::SetDialogs(QDialog* globalSetts, QDialog* defSet, QDialog* viewParam) {
    globalSetts_ = globalSetts;
    defSet_ = defSet;
    viewParam_ = viewParam;
}

void TabIdent::RunDialog(QDialog* dialog) {
    if (dialog == nullptr) return;
    session_.Ask().ExecDialog(*dialog);
    session_.RequestRepaint();
}

void TabIdent::bGlobalSetClick() {
    RunDialog(globalSetts_);
}

void TabIdent::bGlobalDefaultSetClick() {
    RunDialog(defSet_);
}

void TabIdent::bSaveParamToTextClick() {
    RunDialog(viewParam_);
}

void TabIdent::AddIdentLine(const QString& line) {
    ui_->mIdent->appendPlainText(line);
}

void TabIdent::DisableCtrlrFeatures() {
    ApplyEnablingRule(EnablingRule::B, this, nullptr, session_.DemoMode());
    session_.MarkNotIdentified();
}

void TabIdent::EnableCtrlrFeatures() {
    ApplyEnablingRule(EnablingRule::A, this, nullptr, session_.DemoMode());
    KeepDefaultsOffForImageFile();
}

// Factory defaults stay off over an image file, and the button's hint says why; over a
// controller or the demo image the button carries its own hint again.
void TabIdent::KeepDefaultsOffForImageFile() {
    QPushButton* button = ui_->bGlobalDefaultSet;
    const bool imageFile = session_.ImageFile() != nullptr;
    if (imageFile) button->setEnabled(false);
    button->setToolTip(imageFile ? QString::fromUtf8(kDefaultsNotForImageFile)
                                 : HintDisplayText(HintText(button->objectName())));
}

void TabIdent::IdentToForm() {
    // A quick key or the number menu may identify while the search runs: the search ends first,
    // so that the buttons it held off follow this identification's outcome instead of being
    // restored to their earlier state when the scan would have ended.
    search_->Stop();
    // Everyday use reaches the initial setup only before the first identification; the engineer
    // of --service keeps it.
    ui_->bGlobalSet->setVisible(session_.Options().serviceMode);
    ui_->mIdent->clear();
    session_.SetStatus(QString());
    session_.RepaintStatus();

    if (session_.DemoMode()) {
        IdentifyDemo();
        return;
    }
    // Whatever was known belongs to the controller identified before.
    session_.ForgetController();
    session_.ClearReident(Reident::WriteFailedOrSpeed);
    ui_->lSimulState->hide();

    const PortSlot slot = session_.Slot();
    const int address = session_.Address();
    const IdentOutcome out =
        session_.ExchangeFor([slot, address] { return IdentifyController(slot, address); });
    using Stage = IdentOutcome::Stage;
    switch (out.stage) {
    case Stage::NoAnswer:
        ShowIdentFailure(session_.Address() == kReserveAddress
                             ? QStringLiteral("По резервному каналу связь не установлена")
                             : QStringLiteral("Нет связи с устройством №") +
                                   QString::number(session_.Address()));
        return;
    case Stage::Unsupported:
        // The first letter is a Latin C, as the controller family has always shown it.
        ShowIdentFailure(QStringLiteral("C данным устройством не поддерживается работа"));
        return;
    default:
        break;
    }
    session_.SetAddress(out.ctrlrAddress);
    if (out.stage == Stage::RegisterFailed) {
        session_.SetStatus(QStringLiteral("Ошибка чтения регистра IR 24"));
        DisableCtrlrFeatures();
        return;
    }
    AddIdentLine(QStringLiteral("Получение идентификатора."));
    if (out.stage == Stage::TimeOut) {
        AddIdentLine(QStringLiteral("TimeOut"));
        session_.SetStatus(QStringLiteral("Идентификатор не считан"));
        session_.SetNumberLabel(QStringLiteral("Связь не установлена"));
        DisableCtrlrFeatures();
        return;
    }

    QString text = QString::fromStdString(Cp1251ToUtf8(out.text));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ui_->mIdent->setPlainText(text);
    session_.MarkIdentified(text.toStdString());
    ui_->lSimulState->show();
    EnableCtrlrFeatures();
    ui_->bReadTemper->setEnabled(true);
    session_.SetStatus(QStringLiteral("Идентификатор считан"));
    session_.SetNumberLabel(QStringLiteral("Работа с Адресом №") +
                            QString::number(session_.Address()));
    switch (out.pulseSimulator) {
    case 1:
        SetSimImpMarker(1, QStringLiteral("Выкл. имитатор импульсов"),
                        QStringLiteral("Имитатор включен"));
        ui_->bSimImp->setEnabled(true);
        break;
    case 0:
        SetSimImpMarker(0, QStringLiteral("Вкл. имитатор импульсов"),
                        QStringLiteral("Имитатор выключен"));
        ui_->bSimImp->setEnabled(true);
        break;
    default:
        ui_->lSimulState->setText(QStringLiteral("Ошибка чтения имитатора"));
        ui_->bSimImp->setEnabled(false);
        break;
    }
}

void TabIdent::IdentifyDemo() {
    if (!session_.OpenDemoImage().Ok()) {
        DisableCtrlrFeatures();
        return;
    }
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->bIrValRead), static_cast<QWidget*>(ui_->bSimImp),
          static_cast<QWidget*>(ui_->lSimulState), static_cast<QWidget*>(ui_->bSaveImage),
          static_cast<QWidget*>(ui_->bLoadImage), static_cast<QWidget*>(ui_->bReadTemper)})
        w->hide();
    AddIdentLine(QString::fromStdString(session_.Model().Identity().identText));
    EnableCtrlrFeatures();
}

void TabIdent::ShowIdentFailure(const QString& text) {
    session_.SetNumberLabel(text);
    session_.SetStatus(text);
    AddIdentLine(text);
    DisableCtrlrFeatures();
}

void TabIdent::SetSimImpMarker(int marker, const QString& caption, const QString& state) {
    simImpMarker_ = marker;
    ui_->bSimImp->setText(caption);
    ui_->lSimulState->setText(state);
}

void TabIdent::bCallIdentClick() {
    IdentToForm();
}

void TabIdent::bReservCallClick() {
    if (!session_.Ask().Confirm(
            this, QStringLiteral("Внимание, если подключено более одного устройства, не "
                                 "пользуйтесь этой функцией. Вы хотите использовать эту функцию?")))
        return;
    session_.SetAddress(kReserveAddress);
    IdentToForm();
}

void TabIdent::bFindCtrlrClick() {
    ui_->mIdent->clear();
    if (search_->Running()) {
        search_->Stop();
        return;
    }
    search_->Start();
}

void TabIdent::bResetClick() {
    if (session_.DemoMode()) return;
    if (session_.Exchange([&] { return RestartCtrlr(session_.Slot(), session_.Address()); }) != 1)
        session_.SetStatus(QStringLiteral("Контроллер не ответил на команду рестарта"));
}

void TabIdent::bSimImpClick() {
    const bool on = simImpMarker_ != 1;
    if (session_.Exchange(
            [&] { return SetPulseSimulator(session_.Slot(), session_.Address(), on); }) != 1) {
        // The switch did not reach the controller: the button keeps offering the same action
        // and the label does not claim a state the controller is not in.
        ui_->lSimulState->setText(QStringLiteral("Ошибка записи имитатора"));
        return;
    }
    // The captions here have no full stop after "Вкл"/"Выкл", unlike those of identification.
    if (on) {
        SetSimImpMarker(1, QStringLiteral("Выкл имитатор импульсов"),
                        QStringLiteral("Имитатор включен"));
    } else {
        SetSimImpMarker(0, QStringLiteral("Вкл имитатор импульсов"),
                        QStringLiteral("Имитатор выключен"));
    }
}

} // namespace velmar::ui
