#include "ui/session.h"

#include "data/demo_store.h"
#include "data/live_store.h"
#include "protocol/read_retry.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace velmar::ui {

Session::Session(QObject* parent) : QObject(parent), prompts_(std::make_unique<WidgetPrompts>()) {}

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

int Session::OpenSessionPort() {
    // Another port may lead to another controller: what was learnt about its replies goes.
    ForgetReplyChecks();
    portSlot = 0;
    const int code = OpenPort(portSlot, portName.c_str());
    if (portSlot == 0) return code != 0 ? code : kPortNoSlot;
    ConfigureSessionPort();
    return 0;
}

void Session::ConfigureSessionPort() {
    // A failed configuration shows up as a controller that does not answer.
    ConfigurePort(portSlot, baud, dataBits, parity, stopBits);
}

void Session::CloseSessionPort() {
    ForgetReplyChecks();
    if (portSlot != 0) ClosePort(portSlot);
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
}

void Session::LetRepaint() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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
