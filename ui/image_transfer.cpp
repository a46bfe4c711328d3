#include "ui/image_transfer.h"

#include "data/device_image.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/session.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <vector>

namespace velmar::ui {

namespace {

constexpr int kBarStep = 10;
const QString kImageFilter = QStringLiteral("файл образа (*.bin);;любой файл (*.*)");
const QString kNoLink = QStringLiteral("Нет связи с устройством");

// While an image goes to or from the controller the window repaints between records, but user
// input is dropped: a quick key, a click or the close box must not start anything in between.
class UserInputBlocker : public QObject {
  public:
    UserInputBlocker() { qApp->installEventFilter(this); }
    ~UserInputBlocker() override {
        QCoreApplication::processEvents(); // drop what arrived during the last record
        qApp->removeEventFilter(this);
    }
    UserInputBlocker(const UserInputBlocker&) = delete;
    UserInputBlocker& operator=(const UserInputBlocker&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::Close:
            event->ignore();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

// Sets ImageTransferIdle again however the transfer ends.
struct TransferRunning {
    explicit TransferRunning(Session& s) : session(s) { session.imageTransferIdle = false; }
    ~TransferRunning() { session.imageTransferIdle = true; }
    TransferRunning(const TransferRunning&) = delete;
    TransferRunning& operator=(const TransferRunning&) = delete;
    Session& session;
};

} // namespace

ImageTransfer::ImageTransfer(Session& session, QProgressBar& progrImage, QLabel& lImageStat,
                             std::function<void()> identToForm, QObject* parent)
    : QObject(parent), session_(session), progrImage_(progrImage), lImageStat_(lImageStat),
      identToForm_(std::move(identToForm)) {}

void ImageTransfer::Advance(int value) {
    progrImage_.setValue(std::min(value, progrImage_.maximum()));
    QCoreApplication::processEvents();
}

// The label and the bar come up, then `transfer` runs with the user's input held off, moving the
// bar through the progress function it is given. Returns what `transfer` returns.
int ImageTransfer::RunShowingProgress(const QString& text, int total,
                                      const std::function<int(const ImageProgressFn&)>& transfer) {
    lImageStat_.setText(text);
    lImageStat_.show();
    progrImage_.setRange(0, total);
    progrImage_.setValue(0);
    progrImage_.show();
    const UserInputBlocker blockInput;
    Advance(0);
    return transfer([this](int done, int) { Advance(done); });
}

// The boxes and file dialogs belong to the main window: centred on it and kept in front of it.
QWidget* ImageTransfer::Window() const {
    return progrImage_.window();
}

void ImageTransfer::HideProgress() {
    progrImage_.hide();
    lImageStat_.hide();
}

void ImageTransfer::bSaveImageClick() {
    TransferRunning running(session_);
    QString message;
    const bool saved = SaveImage(message);
    HideProgress();
    if (saved) message = QStringLiteral("Образ контроллера успешно сохранен");
    if (!message.isEmpty()) session_.Ask().Message(Window(), message);
}

bool ImageTransfer::SaveImage(QString& message) {
    identToForm_();
    if (!session_.ctrlrIdentified || session_.Store().ReadSizes() != 1) {
        message = kNoLink;
        return false;
    }
    const QString path = session_.Ask().SaveFileName(
        Window(), QStringLiteral("Выберите файл для записи образа контроллера"), kImageFilter,
        QStringLiteral("bin"));
    if (path.isEmpty()) return false;

    // Everything is read before the file is written, and the file is replaced atomically: a
    // failed save never leaves an empty or partial image in place of an earlier one.
    std::string error;
    const int result = RunShowingProgress(
        QStringLiteral("Подождите, идет процесс чтения данных из контроллера"),
        std::max(1, ImageLength(session_.Store().Sizes().ToBytes().data()) - 7),
        [&](const ImageProgressFn& progress) {
            return SaveDeviceImage(session_.Store(), path.toStdString(), progress, &error);
        });
    if (result == kImageSaved) return true;
    message = QString::fromStdString(ImageSaveErrorText(result));
    if (!error.empty()) message += QStringLiteral("\n") + QString::fromStdString(error);
    return false;
}

void ImageTransfer::bLoadImageClick() {
    {
        TransferRunning running(session_);
        QString message;
        const bool written = LoadImage(message);
        HideProgress();
        if (written) message = QStringLiteral("Образ успешно записан в контроллер");
        if (!message.isEmpty()) session_.Ask().Message(Window(), message);
        session_.RequestReident(Reident::ImageOrDialog);
    }
    emit session_.repaintRequested();
}

bool ImageTransfer::LoadImage(QString& message) {
    identToForm_();
    if (!session_.ctrlrIdentified) {
        message = kNoLink;
        return false;
    }
    const QString path =
        session_.Ask().OpenFileName(Window(), QString(), kImageFilter, QStringLiteral("bin"));
    if (path.isEmpty()) return false;
    std::vector<uint8_t> image;
    std::string error;
    const int loaded = LoadImageFile(path.toStdString(), image, &error);
    if (loaded == kImageBadHeader || loaded == kImageTooShort || loaded == kImageCannotOpen)
        return false; // refused without a word, as the engineer's tools always did
    if (loaded != kImageLoaded) {
        message = loaded == kImageReadError ? QStringLiteral("Ошибка чения файла")
                                            : QString::fromStdString(ImageLoadErrorText(loaded));
        return false;
    }
    if (!session_.Ask().Confirm(Window(),
                                QStringLiteral("Образ считан, записать его в контроллер")))
        return false;

    const int result = RunShowingProgress(
        QStringLiteral("Подождите, идет процесс сохранения данных в контроллер"),
        ImageWriteTotal(image.data()) + kBarStep, [&](const ImageProgressFn& progress) {
            return WriteImageToController(session_.portSlot, session_.ctrlrAddress, image, progress,
                                          &session_.Store().Sizes());
        });
    if (result == kImageWrittenNoRestart) {
        message = QStringLiteral("Образ записан, но контроллер не подтвердил перезапуск");
        return false;
    }
    if (result != kImageWritten) {
        message = QStringLiteral("Образ не записан в контроллер полностью");
        return false;
    }
    return true;
}

} // namespace velmar::ui
