// The tab "Доп настройки": the flow, heating and host-link limits and the second mode mask of the
// controller parameter block, and the make-specific block (Nara protocol settings, valve PWM
// period, firmware update counter, local panel passwords). Both records are read every time the
// tab is shown and written by one button: the parameter block first (then the restart), the
// make-specific block after it once the restarted controller answers again.
#pragma once

#include "data/ctrlr_params.h"
#include "data/make_block.h"
#include "ui/pages/page.h"

#include <memory>

namespace Ui {
class TabAdvSet;
}

namespace velmar::ui {

class FieldBinder;
class PanelPasswords;
struct FieldEntryState;

class TabAdvSet : public Page {
    Q_OBJECT
  public:
    explicit TabAdvSet(Session& session, QWidget* parent = nullptr);
    ~TabAdvSet() override;

    // TabAdvSetShow.
    void PageShown() override;
    void bGetAdvSetTrkClick();
    void bSetAdvSetTrkClick();
    void bTestReleTClick();

  private:
    int ReadParams();
    // 1, or -1 when the block could not be read (the Nara group is then disabled).
    int ReadNaraSpecific();
    void ShowParams();
    void ShowMakeBlock();
    void TempHeatLowExit();
    void TempHeatHighExit();
    void checkbTrkModes2ClickCheck();
    int CountMarked() const;

    std::unique_ptr<Ui::TabAdvSet> ui;
    FieldEntryState& entry_;
    FieldBinder* paramsBinder_;
    FieldBinder* makeBinder_;
    PanelPasswords* passwords_;
    // The records in the model that this tab edits.
    CtrlrParams& Params();
    MakeBlock& Make();
};

} // namespace velmar::ui
