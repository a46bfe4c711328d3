#include "ui/pages/ctrlr_search.h"

#include "protocol/ctrlr_protocol.h"
#include "ui/session.h"

#include <QWidget>

namespace velmar::ui {

CtrlrSearch::CtrlrSearch(Session& session, std::vector<QWidget*> buttons, QObject* parent)
    : QObject(parent), session_(session), buttons_(std::move(buttons)),
      savedEnabled_(buttons_.size(), true) {
    tmFindTrk_.setObjectName(QStringLiteral("tmFindTrk"));
    connect(&tmFindTrk_, &QTimer::timeout, this, &CtrlrSearch::tmFindTrkTimer);
}

void CtrlrSearch::Start() {
    if (Running()) return;
    for (size_t i = 0; i < buttons_.size(); ++i) {
        savedEnabled_[i] = buttons_[i]->isEnabled();
        buttons_[i]->setEnabled(false);
    }
    searchNumber_ = 1;
    tmFindTrk_.setInterval(session_.Options().findIntervalMs);
    tmFindTrk_.start();
}

void CtrlrSearch::Stop() {
    if (!Running()) return;
    tmFindTrk_.stop();
    RestoreButtons();
}

void CtrlrSearch::RestoreButtons() {
    for (size_t i = 0; i < buttons_.size(); ++i)
        if (savedEnabled_[i]) buttons_[i]->setEnabled(true);
}

void CtrlrSearch::tmFindTrkTimer() {
    // A tick that comes while another exchange runs is left out: one poll per tick, never two
    // queued behind each other.
    if (session_.ExchangeBusy()) return;
    if (searchNumber_ > kLastNumber) {
        Stop();
        return;
    }
    const int polled = searchNumber_;
    const int result = session_.Exchange([&] {
        uint8_t reply[4] = {};
        int number = 0;
        return PollCtrlrAddress(session_.Slot(), polled, reply, number);
    });

    emit lineReady(QStringLiteral("Трк №") + QString::number(searchNumber_) +
                   (result >= 1 ? QStringLiteral(" найдено.") : QStringLiteral(" не найдено.")));
    ++searchNumber_;
}

} // namespace velmar::ui
