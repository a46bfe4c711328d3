// The tab "Сост канала": the run-time registers of one channel (state, status bits, doses,
// price, totalisers), read, edited with checks on leaving each field, and written back. Hidden
// from everyday use; shown with --service.
#pragma once

#include "data/channel_regs.h"
#include "ui/pages/channel_page.h"

#include <memory>

namespace Ui {
class TabNozzRegs;
}

namespace velmar::ui {

class FieldBinder;

class TabNozzRegs : public ChannelPage {
    Q_OBJECT
  public:
    explicit TabNozzRegs(Session& session, QWidget* parent = nullptr);
    ~TabNozzRegs() override;

    // The record of the channel shown, as the controls edit it (in the model).
    ChannelRegs& Regs();

  protected:
    ChannelResult ReadChannel(int n) override;
    ChannelResult SaveChannel(int n) override;
    bool Unsaved() const override;

  private:
    void cbStateChange(int item);
    void checkBitStatClickCheck();
    // Every item of the status list from its bit of the working copy.
    void ShowBitStat();

    std::unique_ptr<Ui::TabNozzRegs> ui;
    FieldBinder* binder_;
};

} // namespace velmar::ui
