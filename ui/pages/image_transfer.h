// The main tab's whole-image buttons: save the controller's records to a file, and write a saved
// image file into the controller, with the progress bar and the status label between records.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

namespace velmar::ui {

class ExchangeProgress;
class Session;

class ImageTransfer : public QObject {
    Q_OBJECT
  public:
    ImageTransfer(Session& session, QProgressBar& progrImage, QLabel& lImageStat,
                  std::function<void()> identToForm, QObject* parent);

    void bSaveImageClick();
    void bLoadImageClick();

  private:
    // Both return true when the whole operation succeeded; on failure `message` holds what to
    // show (empty for a silent end), shown once input is delivered again.
    bool SaveImage(QString& message);
    bool LoadImage(QString& message);
    void RunShowingProgress(const QString& text, int total, const QString& cancelText,
                            const std::function<void(ExchangeProgress&)>& transfer);
    void HideProgress();
    QWidget* Window() const;

    Session& session_;
    QProgressBar& progrImage_;
    QLabel& lImageStat_;
    std::function<void()> identToForm_;
};

} // namespace velmar::ui
