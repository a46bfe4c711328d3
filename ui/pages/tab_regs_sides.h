// The tab "Настройка стороны": the state record of each side (selected nozzle, correction count
// and date, transaction count). Both records are read every time the tab is shown and shown
// read-only; with --service the fields stay editable and the write button is offered.
#pragma once

#include "data/side_state.h"
#include "ui/pages/page.h"

#include <array>
#include <memory>

class QGroupBox;
class QLineEdit;

namespace Ui {
class TabRegsSides;
}

namespace velmar::ui {

// ReadSidesSetts results.
inline constexpr int kSidesRead = 1;
inline constexpr int kSideAFailed = -1;
inline constexpr int kSideBFailed = -2;
inline constexpr int kBothSidesFailed = -3;

class TabRegsSides : public Page {
    Q_OBJECT
  public:
    explicit TabRegsSides(Session& session, QWidget* parent = nullptr);
    ~TabRegsSides() override;

    // TabRegsSidesShow.
    void PageShown() override;
    void bCallRegsSidesClick();
    void bWriteRegsSidesClick();

  private:
    struct SideControls {
        QGroupBox* group;
        QLineEdit* activeNoz;
        QLineEdit* countKor;
        QLineEdit* date;
        QLineEdit* countTranz;
    };

    int ReadSidesSetts();
    // 1 or -1.
    int WriteSideSetts(int side);
    // Enables the groups and the write button by the read's result; `onShow` picks the texts.
    void ApplyReadResult(int result, bool onShow);
    void ShowSide(int side);
    void CountKorExit(int side);
    void DateExit(int side);
    void CountTranzExit(int side);
    int Address(int side) const;
    // Side 0 or 1's record in the model, as the controls edit it.
    SideState& Held(int side);

    std::unique_ptr<Ui::TabRegsSides> ui;
    std::array<SideControls, 2> sides_{};
};

} // namespace velmar::ui
