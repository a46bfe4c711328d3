// The tab "Настройки канала": the flow meter calibration of one channel (pulse value W, K * L,
// pulses per litre, phase mode), read, edited and written back. After every press of the save
// button the meter type and phase mode of the parameter block are derived from the channels.
#pragma once

#include "data/channel_setts.h"
#include "ui/pages/channel_page.h"

#include <memory>

namespace Ui {
class TabNozSetts;
}

namespace velmar::ui {

class FieldBinder;

class TabNozSetts : public ChannelPage {
    Q_OBJECT
  public:
    explicit TabNozSetts(Session& session, QWidget* parent = nullptr);
    ~TabNozSetts() override;

    // The record of the channel shown, as the controls edit it (in the model).
    ChannelSetts& Setts();

  protected:
    ChannelResult ReadChannel(int n) override;
    ChannelResult SaveChannel(int n) override;
    bool Unsaved() const override;
    void AfterSave() override;

  private:
    // A valid pulses-per-litre entry was stored: W and K * L follow the new factor.
    void eImpLitEntered();
    void ShowCalibration();

    std::unique_ptr<Ui::TabNozSetts> ui;
    FieldBinder* binder_;
    // The meter factor the working copy held before the last pulses-per-litre entry.
    int factor_ = 0;
};

} // namespace velmar::ui
