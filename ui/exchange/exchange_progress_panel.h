// The small window a long exchange shows: what runs, a bar, and "Прервать" when the exchange may
// be cancelled between transactions.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmar::ui {

class ExchangeProgressPanel : public QDialog {
    Q_OBJECT
  public:
    ExchangeProgressPanel(const QString& what, int total, bool cancellable, QWidget* parent);

    void SetDone(int done);
    // The button was pressed: shows that the exchange stops after its current transaction.
    void ShowCancelling();

  signals:
    void cancelRequested();

  private:
    QLabel* label_;
    QProgressBar* bar_;
    QPushButton* cancel_ = nullptr;
};

} // namespace velmar::ui
