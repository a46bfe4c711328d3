// The tab "Настройки контроллера": the controller parameter block with its topology (sides,
// hoses, side addresses, Nara addresses, physical map), meter and display settings, dosing
// thresholds and the mode mask; reading it, editing it with checks on leaving each control, and
// writing it back.
//
// How a settings page is built (the later tabs follow the same shape):
//   - the record lives in the session's controller model, twice: the working copy the controls
//     edit and its ShadowCopy, the bytes last read from or written to the controller; a write
//     sends the working copy only when the two differ;
//   - numeric fields are declared one line each with their binding (FieldBinder); the binder
//     checks a field when it is left, marks it red and counts it, or stores it;
//   - combo boxes store their item index on change; controls with rules of their own (here the
//     topology) have a leave handler that checks, marks and stores;
//   - the read fills the copies, shows the repairs' messages, then fills the controls; the write
//     refuses while anything is marked or nothing changed, writes, and reports in the status line.
#pragma once

#include "data/ctrlr_params.h"
#include "data/read_checks.h"
#include "data/topology.h"
#include "ui/pages/page.h"

#include <memory>

class QComboBox;
class QLineEdit;

namespace Ui {
class TabCtrlrSetts;
}

namespace velmar::ui {

class FieldBinder;
class FieldGrid;
struct FieldEntryState;

class TabCtrlrSetts : public Page {
    Q_OBJECT
  public:
    explicit TabCtrlrSetts(Session& session, QWidget* parent = nullptr);
    ~TabCtrlrSetts() override;

    // With a controller identified, reads the parameter block and fills the controls; without
    // one, or when the read fails, forgets the block and locks what cannot be used.
    void PageShown() override;
    // Reads the block into both copies and fills the controls: 1, or -1 when the read failed
    // (the controls then keep what they showed).
    int ReadParams();

  public slots:
    void bGetParamClick();
    void bSetParamClick();

  private:
    // Reading.
    void ShowBlock(const ParamsReadCheck& check);
    void ShowTrkModes();
    void ShowMaps();
    void RebuildNozzleList(int previous, bool severSelectsOne);

    // Topology (sides, hoses, addresses, grids).
    void cbCountSideTrkChange();
    void cbCountNozTrkChange();
    void FillNaraAuto();
    void FillIdentityMaps();
    void SetGridColumns(int n);
    void RefillGrids();
    bool CheckNaraSide(int side);
    void NaraGridExit(int side);
    void MapGridExit(int side);
    void AdrTrkExit(int side);
    bool PackGrids();

    // Mode mask.
    void checkbTrkModesClickCheck();
    void TrkModesEntered();
    void AfterTrkModesChange(bool severSelectsOne);

    // Meter type and phase leaving their manual modes.
    void cbMeterTypeChange(int item);
    void cbPhaseMetChange(int item);

    // Writing.
    bool NewAddressConfirmed();
    void WriteFailed(const QString& text);
    void ShowAddressIfChanged(int before);

    void ShowMessage(const char* text);
    void SetStatusText(const char* text);
    void SetStatusText(const QString& text);
    // The message box and the same text in the status line.
    void Report(const char* text);
    void Report(const QString& text);
    int CountMarked() const;
    int Sides() const;
    FieldGrid* NaraGrid(int side) const;
    FieldGrid* MapGrid(int side) const;
    QLineEdit* AdrEdit(int side) const;

    // The block in the model: the working copy the controls edit, and the copy as read.
    CtrlrParams& Work();
    const CtrlrParams& Read() const;

    std::unique_ptr<Ui::TabCtrlrSetts> ui;
    FieldEntryState& entry_;
    FieldBinder* binder_;
};

} // namespace velmar::ui
