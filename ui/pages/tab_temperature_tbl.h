// The tab "Таблица температуры": the controller's table of 39 ADC readings (one every 4 °C from
// -50 to +102) that turns its thermistor reading into degrees. The table is read from the
// controller, or computed from the thermistor's nominal resistance, nominal temperature and B
// constant, and written back.
#pragma once

#include "data/temp_table.h"
#include "ui/pages/page.h"

#include <memory>

namespace Ui {
class TabTemperatureTbl;
}

namespace velmar::ui {

class TabTemperatureTbl : public Page {
    Q_OBJECT
  public:
    explicit TabTemperatureTbl(Session& session, QWidget* parent = nullptr);
    ~TabTemperatureTbl() override;

    // TabTemperatureTblShow.
    void PageShown() override;
    void bRecalcTblTClick();
    void bReadTblTClick();
    void bWriteTblTClick();

  private:
    // "Пересчитать" is offered once the other two model fields hold text.
    void FollowModelKey(const QObject* typedIn);
    void SetRow(int k, int degrees, const QString& resistance, uint16_t adc);

    std::unique_ptr<Ui::TabTemperatureTbl> ui;
};

} // namespace velmar::ui
