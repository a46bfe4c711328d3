// The About box.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfAbout;
}

namespace velmar::ui {

class TfAbout : public QDialog {
    Q_OBJECT
  public:
    explicit TfAbout(QWidget* parent = nullptr);
    ~TfAbout() override;

  private:
    std::unique_ptr<Ui::TfAbout> ui_;
};

} // namespace velmar::ui
