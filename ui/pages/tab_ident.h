// The main tab "Основное меню": identification, reserve channel, controller search, restart,
// pulse simulator, image save and load, and the buttons of the setup dialogs.
#pragma once

#include "ui/pages/page.h"

#include <memory>

class QAction;
class QDialog;

namespace Ui {
class TabIdent;
}

namespace velmar::ui {

class CtrlrSearch;
class ImageTransfer;

class TabIdent : public Page {
    Q_OBJECT
  public:
    TabIdent(Session& session, QWidget* parent);
    ~TabIdent() override;

    // Runs the identification of the controller at the session's number and shows its outcome.
    void IdentToForm();
    bool SearchRunning() const;
    // Ends a running controller search; the buttons get back their state from before it.
    void StopSearch();
    // The setup dialogs the main tab's buttons open; they live as long as the program.
    void SetDialogs(QDialog* globalSetts, QDialog* defSet, QDialog* viewParam);

    void bCallIdentClick();
    void bReservCallClick();
    void bFindCtrlrClick();
    void bResetClick();
    void bSimImpClick();
    void bGlobalSetClick();
    void bGlobalDefaultSetClick();
    void bSaveParamToTextClick();

  private:
    void IdentifyDemo();
    void ShowIdentFailure(const QString& text);
    void DisableCtrlrFeatures();
    void EnableCtrlrFeatures();
    void KeepDefaultsOffForImageFile();
    void AddIdentLine(const QString& line);
    void SetSimImpMarker(int marker, const QString& caption, const QString& state);
    // Shows a setup dialog modally; on close the window repaints, which serves a
    // re-identification the dialog asked for.
    void RunDialog(QDialog* dialog);

    std::unique_ptr<Ui::TabIdent> ui_;
    CtrlrSearch* search_ = nullptr;
    ImageTransfer* image_ = nullptr;
    int simImpMarker_ = 0; // 1 = the pulse simulator is on
    QDialog* globalSetts_ = nullptr;
    QDialog* defSet_ = nullptr;
    QDialog* viewParam_ = nullptr;
};

} // namespace velmar::ui
