#include "ui/session.h"

#include "data/demo_store.h"
#include "data/live_store.h"
#include "protocol/read_retry.h"
#include "ui/port_config.h"
#include "ui/thread_runner.h"

namespace velmar::ui {

Session::Session(QObject* parent)
    : QObject(parent), prompts_(std::make_unique<WidgetPrompts>()),
      runner_(std::make_unique<ThreadRunner>()) {
    // Made here, on the window thread, so that no exchange thread ever creates it.
    store_ = std::make_unique<LiveRecordStore>(portSlot, ctrlrAddress);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
}

Session::~Session() = default;

RecordStore& Session::Store() {
    if (!store_) store_ = std::make_unique<LiveRecordStore>(portSlot, ctrlrAddress);
    return *store_;
}

void Session::SetStore(std::unique_ptr<RecordStore> store) {
    store_ = std::move(store);
    demoStore_ = nullptr;
}

void Session::RequestReident(Reident which) {
    reidentRequested[static_cast<size_t>(which)] = true;
}

bool Session::AnyReidentRequested() const {
    return reidentRequested[0] || reidentRequested[1] || reidentRequested[2];
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
    portName = entry.name;
    baud = entry.baud;
    dataBits = entry.dataBits;
    stopBits = entry.stopBits;
    parity = entry.parity;
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
    // Another port may lead to another controller: what was learnt about its replies goes.
    ForgetReplyChecks();
    const std::string name = portName;
    PortSlot slot = 0;
    int configured = 0;
    const int code = Exchange([&] {
        const int opened = OpenPort(slot, name.c_str());
        if (slot == 0) return opened != 0 ? opened : kPortNoSlot;
        configured = ConfigurePort(slot, baud, dataBits, parity, stopBits);
        return 0;
    });
    portSlot = slot;
    // Every exchange on such a port would fail or garble: the engineer learns why.
    if (portSlot != 0 && configured != 0) Ask().Message(parent, ConfigureFailureText(configured));
    return code;
}

QString Session::ConfigureFailureText(int code) const {
    return WithPortErrorReason(
        QStringLiteral("Порт ") + QString::fromStdString(portName) +
            QStringLiteral(" не принял параметры линии ") + QString::number(baud) +
            QLatin1Char(' ') + QString::number(dataBits) + QLatin1Char(' ') + QLatin1Char(parity) +
            QLatin1Char(' ') + QString::number(stopBits),
        code);
}

void Session::CloseSessionPort() {
    ForgetReplyChecks();
    if (portSlot != 0) Exchange([&] { return ClosePort(portSlot); });
    portSlot = 0;
}

void Session::SetPortClosed(bool closed) {
    portClosed = closed;
    emit portStateChanged(closed);
}

void Session::SetPrompts(std::unique_ptr<Prompts> prompts) {
    prompts_ = std::move(prompts);
}

void Session::SetRunner(std::unique_ptr<ExchangeRunner> runner) {
    runner_ = std::move(runner);
    runner_->SetProgressSink([this](int done) { emit exchangeProgressed(done); });
}

int Session::LoadDemoImage() {
    if (demoStore_ == nullptr) {
        int result = 0;
        auto store = MakeDemoRecordStore(demoImagePath, result);
        demoStore_ = store.get();
        store_ = std::move(store);
        return result;
    }
    return demoStore_->Load();
}

void Session::ReleaseDemoImage() {
    if (demoStore_ != nullptr) demoStore_->Release();
}

} // namespace velmar::ui
