// "Станция…": every controller on the line at a glance — its number, identification, its latest
// backup in the chosen folder, how many fields differ from that backup and the journal's entries
// since — with the station's work from there: scan again, back up all, verify all, open one in
// the window, make a profile from one and apply a profile to the chosen ones.
#pragma once

#include "data/station_backup.h"

#include <QDialog>
#include <QString>
#include <map>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velmar::ui {

class Session;

class TStationView : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kFirstNumber = 1;
    static constexpr int kLastNumber = 31;

    TStationView(Session& session, QWidget* parent = nullptr);

    // The backup folder the view reads and backs up into.
    void SetBackupDir(const QString& dir);
    QString BackupDir() const;
    // The controller the engineer chose to open (0: none): the window then works with it.
    int ChosenNumber() const { return chosen_; }
    const std::vector<int>& Numbers() const { return numbers_; }

    void Scan();
    void BackUpAll();
    void VerifyAll();
    void OpenChosen();
    void SaveProfile();
    void ApplyProfile();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct Row {
        QString ident;
        int differences = -1; // -1: not verified since the view was filled
        QString verifyNote;   // why it could not be compared
        int sideOf = 0;       // the number whose second side this is (0: a controller itself)
    };
    void Refill();
    // The numbers of the selected rows, in order; all when none is selected.
    std::vector<int> SelectedNumbers(bool allWhenNone) const;
    std::string PortName() const;
    std::string Dir() const;
    void SetState(const QString& text);

    Session& session_;
    QLineEdit* dir_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* state_ = nullptr;
    std::vector<QPushButton*> actions_; // disabled while the line has no controller listed
    std::vector<int> numbers_;
    std::map<int, Row> rows_;
    int chosen_ = 0;
};

} // namespace velmar::ui
