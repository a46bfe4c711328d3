// The initial setup dialog "Первичная настройка": brings a controller into a working
// configuration in one step (sides, hoses per side, side and channel addresses, display type,
// pulse meter and its phases, dosing and timing values) by rewriting the parameter block, all
// sixteen channel settings and all sixteen channel registers (fiscal totalisers kept), then
// restarting the controller.
#pragma once

#include "data/ctrlr_params.h"
#include "data/field_entry.h"
#include "data/setup_addresses.h"
#include "data/setup_monitor.h"
#include "ui/fields/field_marks.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

class QButtonGroup;
class QLineEdit;

namespace Ui {
class TfGlobalSetts;
}

namespace velmar::ui {

class Session;

class TfGlobalSetts : public QDialog {
    Q_OBJECT
  public:
    explicit TfGlobalSetts(Session& session, QWidget* parent = nullptr);
    ~TfGlobalSetts() override;
    // The opening runs before the window is shown.
    void setVisible(bool visible) override;

    // Loading: the parameter block, the channel settings, the controls and the monitor list.
    void FormShow();
    void bSaveParamGlobalClick();

    // This dialog's own count of red fields (kept, with the marks, between openings).
    int InvalidFieldCount() const { return marks_.invalidFieldCount; }
    const CtrlrParams& Params() const;

  private:
    // A digit field and the parameter byte it feeds.
    struct DigitField {
        QLineEdit* edit;
        Field field;
        uint32_t maximum; // of the text, as entered
        uint32_t scale;   // stored = entered / scale
        std::function<bool(uint32_t)> rule;
    };

    void ShowFields();
    void FillMonitor();
    void cbNumSideGlobalChange(int item);
    void cbNumNozGlobalChange(int item);
    void AutoFillNara();
    void AddressExit(QLineEdit* edit, bool sides);
    void DigitExit(const DigitField& f);
    void HydroHitExit();
    bool StoreDigit(const DigitField& f);
    void Mark(QWidget* control, bool red, MarkLook look);
    void RefreshWrite();
    void Help(const char* text);

    Session& session_;
    std::unique_ptr<Ui::TfGlobalSetts> ui_;
    QButtonGroup* meterGroup_;
    QButtonGroup* phaseGroup_;
    std::vector<DigitField> digits_;
    FieldEntryState marks_;
    bool filling_ = false;
    bool loaded_ = false; // the block and the channel settings were read at this opening

    // The working copies in the model: the parameter block and the sixteen channel settings.
    CtrlrParams& Work();
    ChannelSettsSet WorkingSetts() const;

    // The dialog's state, kept for the life of the program.
    int sides_ = 1;
    int nozzles_ = 1;
    SideAddressList sideAddresses_{1, 2};
    ChannelAddressList channelAddresses_{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
};

} // namespace velmar::ui
