// The controller search: polls the numbers 1 to 31 one per tick of tmFindTrk, so the window stays
// usable in between, and keeps the listed buttons disabled while it runs.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <vector>

class QWidget;

namespace velmar::ui {

class Session;

class CtrlrSearch : public QObject {
    Q_OBJECT
  public:
    static constexpr int kLastNumber = 31;

    // `buttons` are disabled during the scan and get back their own enabled state afterwards.
    CtrlrSearch(Session& session, std::vector<QWidget*> buttons, QObject* parent);

    bool Running() const { return tmFindTrk_.isActive(); }
    void Start();
    void Stop();

  signals:
    // One line per number: "Трк №N найдено." or "Трк №N не найдено."
    void lineReady(const QString& line);

  private:
    void tmFindTrkTimer();
    void RestoreButtons();

    Session& session_;
    std::vector<QWidget*> buttons_;
    std::vector<bool> savedEnabled_;
    int searchNumber_ = 1;
    QTimer tmFindTrk_;
};

} // namespace velmar::ui
