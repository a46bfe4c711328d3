#include "ui/session.h"

#include "data/demo_store.h"
#include "data/device_image.h"
#include "data/image_file_store.h"
#include "data/journal_image.h"
#include "data/live_store.h"
#include "data/model_writes.h"
#include "protocol/read_retry.h"
#include "ui/exchange/thread_runner.h"
#include "ui/port_config.h"
#include "ui/read_retry_setting.h"

namespace velmar::ui {

Session::Session(QObject* parent)
    : QObject(parent), prompts_(std::make_unique<WidgetPrompts>()),
      runner_(std::make_unique<ThreadRunner>()) {
    // Made here, on the window thread, so that no exchange thread ever creates it.
    auto live = std::make_unique<LiveRecordStore>(portSlot_, address_);
    liveStore_ = live.get();
    store_ = std::move(live);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
}

Session::~Session() = default;

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
    c.ctrlr = address_;
    c.ident = model_.Identity().identText;
    if (model_.Generation() != journalGeneration_) {
        journal->ForgetReads();
        journalGeneration_ = model_.Generation();
    }
}

bool Session::JournalReady(QString& error) {
    auto* journal = dynamic_cast<JournalStore*>(&Store());
    std::string why;
    if (journal == nullptr || journal->Ready(why)) return true;
    error = QString::fromStdString(why);
    return false;
}

bool Session::JournalImageLoad(const std::vector<uint8_t>& image, const ImageWriteReport& report,
                               const SizesRecord& sizes, QString& error) {
    auto* journal = dynamic_cast<JournalStore*>(&Store());
    if (journal == nullptr || !journal->Journaling() || !report.anythingSent) return true;
    NoteOperation();
    auto entries =
        ImageLoadEntries(journal->Context(), image, report, sizes, ModelReadCopies(model_));
    std::string why;
    if (journal->Record(entries, why)) return true;
    error = QString::fromStdString(why);
    return false;
}

void Session::ReportJournalRefusal() {
    if (journalStore_ == nullptr || journalStore_->LastError().empty()) return;
    const QString text = QStringLiteral("Запись не внесена в журнал изменений: ") +
                         QString::fromStdString(journalStore_->LastError());
    journalStore_->ClearError();
    prompts_->Message(nullptr, text);
}

QString Session::JournalError() const {
    return journalStore_ != nullptr ? QString::fromStdString(journalStore_->LastError())
                                    : QString();
}

void Session::SetStore(std::unique_ptr<RecordStore> store) {
    store_ = std::move(store);
    demoStore_ = nullptr;
    imageStore_ = dynamic_cast<ImageFileStore*>(store_.get());
    liveStore_ = dynamic_cast<LiveRecordStore*>(store_.get());
    Retarget();
    model_.Clear();
}

void Session::SetAddress(int address) {
    if (address != address_) ForgetController();
    address_ = address;
    Retarget();
}

void Session::SetSlot(PortSlot slot) {
    if (slot != portSlot_) ForgetController();
    portSlot_ = slot;
    Retarget();
}

void Session::Retarget() {
    if (liveStore_ != nullptr) liveStore_->Retarget(portSlot_, address_);
}

void Session::Identified(const std::string& identText) {
    model_.SetIdentity(ControllerIdentity{address_, identText});
}

void Session::ForgetController() {
    model_.Clear();
    // Nothing is known of whatever answers now until it is identified.
    if (!modes_.demoMode) modes_.ctrlrIdentified = false;
}

void Session::RequestReident(Reident which) {
    modes_.reidentRequested[static_cast<size_t>(which)] = true;
}

bool Session::AnyReidentRequested() const {
    const auto& r = modes_.reidentRequested;
    return r[0] || r[1] || r[2];
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

int Session::OpenSessionPort(QWidget* parent) {
    const LineSettings line = line_;
    PortSlot slot = 0;
    int configured = 0;
    const int code = Exchange([&] {
        const int opened = OpenPort(slot, line.portName.c_str());
        if (slot == 0) return opened != 0 ? opened : kPortNoSlot;
        SetReadRetries(slot, WindowReadRetries()); // the new port's line starts afresh
        configured = ConfigurePort(slot, line.baud, line.dataBits, line.parity, line.stopBits);
        return 0;
    });
    SetSlot(slot);
    ForgetController(); // another port may lead to another controller
    // Every exchange on such a port would fail or garble: the engineer learns why.
    if (portSlot_ != 0 && configured != 0) Ask().Message(parent, ConfigureFailureText(configured));
    return code;
}

QString Session::ConfigureFailureText(int code) const {
    return WithPortErrorReason(
        QStringLiteral("Порт ") + QString::fromStdString(line_.portName) +
            QStringLiteral(" не принял параметры линии ") + QString::number(line_.baud) +
            QLatin1Char(' ') + QString::number(line_.dataBits) + QLatin1Char(' ') +
            QLatin1Char(line_.parity) + QLatin1Char(' ') + QString::number(line_.stopBits),
        code);
}

void Session::CloseSessionPort() {
    const PortSlot slot = portSlot_;
    if (slot != 0) Exchange([slot] { return ClosePort(slot); });
    SetSlot(0);
}

void Session::SetPortClosed(bool closed) {
    modes_.portClosed = closed;
    emit portStateChanged(closed);
}

void Session::SetPrompts(std::unique_ptr<Prompts> prompts) {
    prompts_ = std::move(prompts);
}

void Session::SetRunner(std::unique_ptr<ExchangeRunner> runner) {
    runner_ = std::move(runner);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
}

int Session::OpenImage(const std::string& path, std::string* error) {
    auto store = std::make_unique<ImageFileStore>(path);
    const int result = store->Load();
    if (result != kImageLoaded) {
        if (error) *error = store->LastError();
        return result;
    }
    SetStore(std::move(store));
    modes_.demoMode = true;
    return 1;
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

int Session::LoadDemoImage() {
    // An image file in use stands in for the demo image.
    if (imageStore_ != nullptr) return imageStore_->Load() == kImageLoaded ? 1 : -1;
    if (demoStore_ == nullptr) {
        int result = 0;
        auto store = MakeDemoRecordStore(options_.demoImagePath, result);
        demoStore_ = store.get();
        store_ = std::move(store);
        liveStore_ = nullptr;
        imageStore_ = nullptr;
        model_.Clear();
        return result;
    }
    return demoStore_->Load();
}

void Session::ReleaseDemoImage() {
    if (demoStore_ != nullptr) demoStore_->Release();
    model_.Clear();
}

ParamsWriteOutcome Session::WriteParamsAndFollow(int newAddress, bool newSpeed) {
    const int addressBefore = address_;
    const ParamsWriteRequest request{Store(),
                                     portSlot_,
                                     {line_.dataBits, line_.parity, line_.stopBits},
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
