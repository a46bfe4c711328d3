// The factory defaults dialog "Заводские установки": a complete default image for a dispenser
// make ("Шельф" or "Нара") with the topology the engineer adjusts (sides, hoses per side, side
// addresses, channel addresses), written into the controller with its fiscal totalisers zeroed,
// or made the new demo image.
#pragma once

#include "data/default_image.h"
#include "ui/fields/field_marks.h"

#include <QDialog>
#include <array>
#include <memory>

namespace Ui {
class TformDefSet;
}

namespace velmar::ui {

class FieldGrid;
class Session;

class TformDefSet : public QDialog {
    Q_OBJECT
  public:
    explicit TformDefSet(Session& session, QWidget* parent = nullptr);
    ~TformDefSet() override;
    // The opening runs before the window is shown.
    void setVisible(bool visible) override;

    // Opening: the device check (live), then the default image of the selected preset.
    void FormShow();
    void cbTypeTrkChange();
    void cbCountNoz_DSChange();
    void cbCountSize_DSChange();
    void bSaveParam_DSClick();

    // The topology as it would be written.
    DefaultTopology Topology() const;

  private:
    void defaultset();
    void ShowMemo();
    void SetNozzleCells(int n);
    void AdrTrkChange(int side);
    void AdrTrkExit(int side);
    void GridCellChanged(int side, int column);
    void GridExit(int side);
    void Mark(QWidget* control, bool red);
    void RefreshWrite();
    DefaultPreset Preset() const;
    FieldGrid* Grid(int side) const;
    QWidget* AdrEdit(int side) const;
    int Channels() const { return sides_ * nozzles_; }

    Session& session_;
    std::unique_ptr<Ui::TformDefSet> ui_;
    FieldEntryState marks_; // red controls of this dialog
    int sides_ = 2;
    int nozzles_ = 4; // per side
    std::array<int, 2> sideAddress_{1, 2};
    std::array<int, 16> nara_{}; // position side * nozzles + hose
    bool filling_ = false;       // controls are being filled: their change handlers stay quiet
};

} // namespace velmar::ui
