// "Применить профиль…" of the station view: a table per controller of what the profile would
// change in it, shown before anything is written; once the engineer writes, the outcome of each
// controller (written and verified, failed with what it holds now, not touched) and, for a
// failed one, its backup written back on request.
#pragma once

#include "data/profile.h"
#include "data/station_apply.h"

#include <QDialog>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace velmar::ui {

class Session;

class TProfileApplyView : public QDialog {
    Q_OBJECT
  public:
    TProfileApplyView(Session& session, const Profile& profile, const std::string& profileFile,
                      const std::string& backupDir, std::vector<ApplyTarget> targets,
                      QWidget* parent = nullptr);

    const std::vector<ApplyTarget>& Targets() const { return targets_; }
    // Writes every controller that would change, one after the other, stopping at the first
    // that fails.
    void Write();
    // Writes the failed controller's backup back.
    void RollBack();

  private:
    void ShowPreview();
    void ShowResult();
    ApplyLine Line() const;

    Session& session_;
    const Profile& profile_;
    std::string profileFile_;
    std::string backupDir_;
    std::vector<ApplyTarget> targets_;
    QTabWidget* tabs_ = nullptr;
    QTableWidget* result_ = nullptr;
    QLabel* state_ = nullptr;
    QPushButton* write_ = nullptr;
    QPushButton* rollback_ = nullptr;
};

} // namespace velmar::ui
