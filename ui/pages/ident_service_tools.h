// The service tools of the main tab: the live register read-out, the controller's temperature,
// the fiscal totaliser listing, the display board mode and the hidden table-fitting test pair.
// Kept apart from the identification code of the tab; the tab creates it over its form.
#pragma once

#include <QObject>

namespace Ui {
class TabIdent;
}

namespace velmar::ui {

class Session;

class IdentServiceTools : public QObject {
    Q_OBJECT
  public:
    IdentServiceTools(Session& session, Ui::TabIdent& form, QWidget* page);

    void bIrValReadClick();
    void bReadTemperClick();
    void bLoadFiskClick();
    void bSetTabloTestClick();
    void TestButtonClick();

  private:
    Session& session_;
    Ui::TabIdent& ui_;
    QWidget* page_;
};

} // namespace velmar::ui
