#include "ui/session.h"

#include "data/demo_store.h"
#include "data/device_image.h"
#include "data/image_file_store.h"
#include "data/live_store.h"
#include "data/model_writes.h"
#include "data/restart_wait.h"
#include "protocol/read_retry.h"
#include "ui/exchange/thread_runner.h"
#include "ui/port_config.h"
#include "ui/read_retry_setting.h"

#include <QMetaObject>
#include <QThread>

namespace velmar::ui {

Session::Session(QObject* parent)
    : QObject(parent), prompts_(std::make_unique<WidgetPrompts>()),
      runner_(std::make_unique<ThreadRunner>()) {
    // Made here, on the window thread, so that no exchange thread ever creates it.
    auto live = std::make_unique<LiveRecordStore>(portSlot_, Address());
    liveStore_ = live.get();
    store_ = std::move(live);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
    // The seconds spent waiting for a restarted controller are shown on the status line, from
    // the exchange thread through the window's event loop.
    SetRestartNotice([this](const char* text) {
        const QString shown = QString::fromUtf8(text);
        if (QThread::currentThread() == thread())
            SetStatus(shown);
        else
            QMetaObject::invokeMethod(
                this, [this, shown] { SetStatus(shown); }, Qt::QueuedConnection);
    });
}

Session::~Session() {
    SetRestartNotice(nullptr);
}

RecordStore& Session::Store() {
    if (liveStore_ == nullptr) return *store_;
    if (journalStore_ == nullptr || &journalStore_->Inner() != liveStore_ ||
        journalStore_->Path() != options_.journalPath)
        journalStore_ =
            std::make_unique<JournalStore>(*liveStore_, options_.journalPath, JournalContext{});
    return *journalStore_;
}

void Session::NoteOperation() {
    if (liveStore_ == nullptr) return;
    auto* journal = dynamic_cast<JournalStore*>(&Store());
    if (journal == nullptr) return;
    JournalContext& c = journal->Context();
    if (c.origin.program.empty()) c.origin = CurrentJournalOrigin("velmar");
    c.operation = operationSource_ ? operationSource_().toStdString() : std::string();
    c.port = line_.portName;
    c.ctrlr = Address();
    c.ident = model_.Identity().identText;
    if (model_.Generation() != journalGeneration_) {
        journal->ForgetReads();
        journalGeneration_ = model_.Generation();
    }
}

namespace {
SessionResult Failed(SessionCode code, const std::string& why) {
    return {code, {}, QString::fromStdString(why)};
}
} // namespace

SessionResult Session::JournalReady() {
    auto* journal = dynamic_cast<JournalStore*>(&Store());
    std::string why;
    if (journal == nullptr || journal->Ready(why)) return {};
    return Failed(SessionCode::JournalRefused, why);
}

WriteRecorder* Session::Recorder() {
    return dynamic_cast<JournalStore*>(&Store());
}

void Session::ReportJournalRefusal() {
    if (journalStore_ == nullptr) return;
    // Refused: the write never started. Incomplete: it was made, its outcome is not entered.
    if (!journalStore_->LastError().empty()) {
        const QString text =
            QStringLiteral("Запись в контроллер не начата: журнал изменений ее не принял: ") +
            QString::fromStdString(journalStore_->LastError());
        journalStore_->ClearError();
        prompts_->Message(nullptr, text);
    }
    if (!journalStore_->Incomplete().empty()) {
        const QString text = QString::fromStdString(journalStore_->Incomplete());
        journalStore_->ClearIncomplete();
        prompts_->Message(nullptr, text);
    }
}

void Session::SetStore(std::unique_ptr<RecordStore> store) {
    store_ = std::move(store);
    demoStore_ = nullptr;
    imageStore_ = dynamic_cast<ImageFileStore*>(store_.get());
    liveStore_ = dynamic_cast<LiveRecordStore*>(store_.get());
    Retarget();
    Restart(Address(), Identified());
}

void Session::SetAddress(int address) {
    if (address != Address()) Restart(address, demoMode_ && Identified());
    Retarget();
}

void Session::SetSlot(PortSlot slot) {
    if (slot != portSlot_) ForgetController();
    portSlot_ = slot;
    Retarget();
}

void Session::Retarget() {
    if (liveStore_ != nullptr) liveStore_->Retarget(portSlot_, Address());
}

void Session::Restart(int address, bool identified) {
    model_.SetIdentity(ControllerIdentity{address, {}, identified});
}

void Session::MarkIdentified(const std::string& identText) {
    model_.SetIdentity(ControllerIdentity{Address(), identText, true});
}

void Session::MarkNotIdentified() {
    Restart(Address(), false);
}

void Session::ForgetController() {
    // Nothing is known of whatever answers now until it is identified.
    Restart(Address(), demoMode_ && Identified());
}

void Session::Configure(SessionOptions options) {
    options_ = std::move(options);
}

void Session::EnterDemo() {
    demoMode_ = true;
}

void Session::RequestReident(Reident which) {
    reidentRequested_[static_cast<size_t>(which)] = true;
}

bool Session::ReidentRequested(Reident which) const {
    return reidentRequested_[static_cast<size_t>(which)];
}

bool Session::AnyReidentRequested() const {
    const auto& r = reidentRequested_;
    return r[0] || r[1] || r[2];
}

void Session::ClearReident(Reident which) {
    reidentRequested_[static_cast<size_t>(which)] = false;
}

void Session::ClearReidentRequests() {
    reidentRequested_ = {};
}

void Session::RequestRepaint() {
    emit repaintRequested();
}

void Session::ShowMainTab() {
    emit showMainTabRequested();
}

void Session::SetStatus(const QString& text) {
    emit statusChanged(text);
}

void Session::RepaintStatus() {
    emit statusRepaintRequested();
}

void Session::SetNumberLabel(const QString& text) {
    emit numberLabelChanged(text);
}

void Session::UsePortSettings(const ComIniEntry& entry) {
    line_.portName = entry.name;
    line_.baud = entry.baud;
    line_.dataBits = entry.dataBits;
    line_.stopBits = entry.stopBits;
    line_.parity = entry.parity;
}

void Session::UsePortSettings(const LineSettings& line) {
    line_ = line;
}

void Session::StartPorts() {
    Exchange([] {
        StartPortLayer();
        return 1;
    });
}

void Session::StopPorts() {
    Exchange([] {
        StopPortLayer();
        return 1;
    });
}

std::vector<std::string> Session::DiscoverPorts() {
    std::vector<std::string> names;
    Exchange([&] {
        names = DiscoverPortNames();
        return 1;
    });
    return names;
}

SessionResult Session::OpenSessionPort(QWidget* parent) {
    const LineSettings line = line_;
    PortSlot slot = 0;
    PortResult opened;
    PortResult configured;
    Exchange([&] {
        opened = OpenLine(slot, line.portName.c_str());
        if (slot == 0) {
            if (opened.Ok()) opened = PortResultOf(kPortNoSlot, 0);
            return 0;
        }
        SetReadRetries(slot, WindowReadRetries()); // the new port's line starts afresh
        configured = ConfigureLine(slot, {line.baud, line.dataBits, line.parity, line.stopBits});
        return 0;
    });
    SetSlot(slot);
    ForgetController(); // another port may lead to another controller
    // Every exchange on such a port would fail or garble: the engineer learns why.
    if (portSlot_ != 0 && !configured.Ok()) Ask().Message(parent, ConfigureFailureText(configured));
    if (portSlot_ == 0) return {SessionCode::PortNotOpened, opened, {}};
    return {};
}

QString Session::ConfigureFailureText(const PortResult& port) const {
    return WithPortErrorReason(
        QStringLiteral("Порт ") + QString::fromStdString(line_.portName) +
            QStringLiteral(" не принял параметры линии ") + QString::number(line_.baud) +
            QLatin1Char(' ') + QString::number(line_.dataBits) + QLatin1Char(' ') +
            QLatin1Char(line_.parity) + QLatin1Char(' ') + QString::number(line_.stopBits),
        port);
}

void Session::CloseSessionPort() {
    const PortSlot slot = portSlot_;
    if (slot != 0) Exchange([slot] { return ClosePort(slot); });
    SetSlot(0);
}

void Session::SetPortClosed(bool closed) {
    portClosed_ = closed;
    emit portStateChanged(closed);
}

void Session::SetPrompts(std::unique_ptr<Prompts> prompts) {
    prompts_ = std::move(prompts);
}

void Session::SetRunner(std::unique_ptr<ExchangeRunner> runner) {
    runner_ = std::move(runner);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
}

SessionResult Session::OpenImage(const std::string& path) {
    auto store = std::make_unique<ImageFileStore>(path);
    if (store->Load() != ImageLoadResult::Loaded)
        return Failed(SessionCode::ImageRefused, store->LastError());
    SetStore(std::move(store));
    EnterDemo();
    return {};
}

void Session::NoteImageFileRefusal() {
    if (imageStore_ == nullptr || !imageStore_->TakeStaleRefusal()) return;
    // Queued: the page that wrote reports its own failure first, and the window may open the
    // file again only once no handler is still working with the records of the old one.
    QMetaObject::invokeMethod(
        this,
        [this, reason = QString::fromStdString(imageStore_->LastError())] {
            emit imageFileChanged(reason);
        },
        Qt::QueuedConnection);
}

std::string Session::OfflineIdentText() const {
    if (imageStore_ != nullptr) return "Образ контроллера из файла " + imageStore_->Path();
    return "Демонстрационная версия программы";
}

SessionResult Session::OpenDemoImage() {
    DemoLoadResult result = DemoLoadResult::Loaded;
    std::string why;
    if (imageStore_ != nullptr) {
        // An image file in use stands in for the demo image.
        if (imageStore_->Load() != ImageLoadResult::Loaded) {
            result = DemoLoadResult::CannotOpen;
            why = imageStore_->LastError();
        }
    } else if (demoStore_ == nullptr) {
        auto store = MakeDemoRecordStore(options_.demoImagePath, result);
        demoStore_ = store.get();
        store_ = std::move(store);
        liveStore_ = nullptr;
        imageStore_ = nullptr;
        Restart(Address(), Identified());
        why = demoStore_->LastError();
    } else {
        result = demoStore_->Load();
        why = demoStore_->LastError();
    }
    if (result == DemoLoadResult::CannotOpen) return Failed(SessionCode::DemoCannotOpen, why);
    if (result != DemoLoadResult::Loaded) return Failed(SessionCode::DemoBadLength, why);
    MarkIdentified(OfflineIdentText());
    emit demoImageLoaded();
    return {};
}

void Session::ReleaseDemoImage() {
    if (demoStore_ != nullptr) demoStore_->Release();
    Restart(Address(), Identified());
}

ParamsWriteOutcome Session::WriteParamsAndFollow(int newAddress, bool newSpeed) {
    const int addressBefore = Address();
    const ParamsWriteRequest request{
        Store(),
        portSlot_,
        {.dataBits = line_.dataBits, .parity = line_.parity, .stopBits = line_.stopBits},
        Store().Sizes().paramsLength,
        addressBefore,
        newAddress,
        newSpeed};
    ControllerModel& model = Model();
    const ParamsWriteOutcome out =
        ExchangeFor([&model, request] { return WriteModelParams(model, request); });
    if (out.newBaud != 0) line_.baud = out.newBaud;
    // The controller now answers at its new number: that is another identity, and the model
    // starts afresh there (identification follows).
    if (out.address != addressBefore) SetAddress(out.address);
    return out;
}

} // namespace velmar::ui
