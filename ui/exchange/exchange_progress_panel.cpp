#include "ui/exchange/exchange_progress_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace velmar::ui {

ExchangeProgressPanel::ExchangeProgressPanel(const QString& what, int total, bool cancellable,
                                             QWidget* parent)
    : QDialog(parent), label_(new QLabel(what, this)), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("ExchangeProgressPanel"));
    setWindowTitle(QStringLiteral("velmar"));
    // The window's close box would only ask for what "Прервать" does; the runner decides.
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    label_->setWordWrap(true);
    bar_->setRange(0, std::max(1, total));
    bar_->setValue(0);
    bar_->setMinimumWidth(400);
    bar_->setAccessibleName(what);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    if (cancellable) {
        cancel_ = new QPushButton(QStringLiteral("Прервать"), this);
        cancel_->setObjectName(QStringLiteral("bCancelExchange"));
        cancel_->setAccessibleName(cancel_->text());
        cancel_->setAutoDefault(false);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(cancel_);
        layout->addLayout(row);
        connect(cancel_, &QPushButton::clicked, this, &ExchangeProgressPanel::cancelRequested);
    }
    setLayout(layout);
}

void ExchangeProgressPanel::SetDone(int done) {
    bar_->setValue(std::clamp(done, 0, bar_->maximum()));
}

void ExchangeProgressPanel::ShowCancelling() {
    if (cancel_ == nullptr) return;
    cancel_->setEnabled(false);
    label_->setText(label_->text() + QStringLiteral("\nПрерывание..."));
}

} // namespace velmar::ui
