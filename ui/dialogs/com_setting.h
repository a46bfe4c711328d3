// The port settings dialog "Настройки com порта": picks the port and its line parameters, opens
// the port with them and stores them in com.ini.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TComSetting;
}

namespace velmar::ui {

class Session;

class TComSetting : public QDialog {
    Q_OBJECT
  public:
    TComSetting(Session& session, QWidget* parent = nullptr);
    ~TComSetting() override;

    void FormShow();
    void SaveParamClick();

    // The form is filled before the dialog appears: FormShow may ask a question first, and a
    // modal box run while the dialog is being shown leaves it at its unlaid-out first size.
    void setVisible(bool visible) override;

  private:
    void FormClose();

    Session& session_;
    std::unique_ptr<Ui::TComSetting> ui_;
    int8_t reserved2_ = 0;
    bool flagA_ = true;
    bool flagB_ = false;
};

} // namespace velmar::ui
