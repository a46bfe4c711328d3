// The parameter report dialog "Параметры устройства": reads the whole device image when it opens,
// shows the report text, rebuilds it for the extended mode from the same bytes, and prints it or
// saves it as a text file.
#pragma once

#include "data/device_buffer.h"

#include <QDialog>
#include <QStringList>
#include <memory>
#include <vector>

namespace Ui {
class TformViewParam;
}

namespace velmar::ui {

class Session;

class TformViewParam : public QDialog {
    Q_OBJECT
  public:
    explicit TformViewParam(Session& session, QWidget* parent = nullptr);
    ~TformViewParam() override;

    // Reads the controller (or the demo image) and shows the report.
    void FormShow();
    void checkAdvanceModeClick();
    void bSaveToTextClick();

    QStringList Lines() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

  private:
    void ShowText();
    void SaveLines(const QString& name, const QStringList& lines);

    Session& session_;
    std::unique_ptr<Ui::TformViewParam> ui_;
    // The bytes read when the dialog opened; kept until it closes.
    std::unique_ptr<DeviceBuffer> buffer_;
    std::vector<int> unread_; // records of the buffer that could not be read
};

} // namespace velmar::ui
