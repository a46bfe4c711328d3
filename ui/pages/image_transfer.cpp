#include "ui/pages/image_transfer.h"

#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/session.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <vector>

namespace velmar::ui {

namespace {

constexpr int kBarStep = 10;
const QString kImageFilter = QStringLiteral("файл образа (*.bin);;любой файл (*.*)");
const QString kNoLink = QStringLiteral("Нет связи с устройством");

// Sets ImageTransferIdle again however the transfer ends.
struct TransferRunning {
    explicit TransferRunning(Session& s) : session(s) { session.ImageTransferStarted(); }
    ~TransferRunning() { session.ImageTransferEnded(); }
    TransferRunning(const TransferRunning&) = delete;
    TransferRunning& operator=(const TransferRunning&) = delete;
    Session& session;
};

} // namespace

ImageTransfer::ImageTransfer(Session& session, QProgressBar& progrImage, QLabel& lImageStat,
                             std::function<void()> identToForm, QObject* parent)
    : QObject(parent), session_(session), progrImage_(progrImage), lImageStat_(lImageStat),
      identToForm_(std::move(identToForm)) {}

// The label and the bar come up, then `transfer` runs as a long exchange of the session, moving
// the bar. The runner's own panel shows only where it offers "Прервать" (`cancelText`): the bar
// of the main tab already shows how far the transfer is. `transfer` keeps its own result.
void ImageTransfer::RunShowingProgress(const QString& text, int total, const QString& cancelText,
                                       const std::function<void(ExchangeProgress&)>& transfer) {
    lImageStat_.setText(text);
    lImageStat_.show();
    progrImage_.setRange(0, total);
    progrImage_.setValue(0);
    progrImage_.show();
    const QMetaObject::Connection moving =
        connect(&session_, &Session::exchangeProgressed, &progrImage_,
                [this](int done) { progrImage_.setValue(std::min(done, progrImage_.maximum())); });
    session_.LongExchange(cancelText, total,
                          cancelText.isEmpty() ? Cancel::NotAllowed : Cancel::Allowed,
                          [&](ExchangeProgress& p) {
                              transfer(p);
                              return true;
                          });
    disconnect(moving);
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
    // A window closed during the read closes as soon as this returns; no box holds it up.
    if (!message.isEmpty() && !session_.Runner().CloseRequested())
        session_.Ask().Message(Window(), message);
}

bool ImageTransfer::SaveImage(QString& message) {
    identToForm_();
    if (!session_.Identified() ||
        !session_.ExchangeFor([&] { return session_.Store().ReadSizes(); }).Ok()) {
        message = kNoLink;
        return false;
    }
    const QString path = session_.Ask().SaveFileName(
        Window(), QStringLiteral("Выберите файл для записи образа контроллера"), kImageFilter,
        QStringLiteral("bin"));
    if (path.isEmpty()) return false;

    // Everything is read before the file is written, and the file is replaced atomically: a
    // failed save never leaves an empty or partial image in place of an earlier one.
    // A cancelled read writes nothing, so the earlier file stays as it was.
    std::string error;
    const std::string file = path.toStdString();
    const QString text = QStringLiteral("Подождите, идет процесс чтения данных из контроллера");
    ImageSaveResult result = ImageSaveResult::ReadFailed;
    RunShowingProgress(text,
                       std::max(1, ImageLength(session_.Store().Sizes().ToBytes().data()) - 7),
                       text, [&](ExchangeProgress& p) {
                           result = SaveDeviceImage(
                               session_.Store(), file, [&p](int done, int) { p.Step(done); },
                               &error, [&p] { return p.Cancelled(); });
                       });
    if (result == ImageSaveResult::Saved) return true;
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
        if (!message.isEmpty() && !session_.Runner().CloseRequested())
            session_.Ask().Message(Window(), message);
        session_.RequestReident(Reident::ImageOrDialog);
    }
    session_.RequestRepaint();
}

bool ImageTransfer::LoadImage(QString& message) {
    identToForm_();
    if (!session_.Identified()) {
        message = kNoLink;
        return false;
    }
    const QString path =
        session_.Ask().OpenFileName(Window(), QString(), kImageFilter, QStringLiteral("bin"));
    if (path.isEmpty()) return false;
    std::vector<uint8_t> image;
    std::string error;
    const ImageLoadResult loaded = LoadImageFile(path.toStdString(), image, &error);
    if (loaded == ImageLoadResult::BadHeader || loaded == ImageLoadResult::TooShort ||
        loaded == ImageLoadResult::CannotOpen)
        return false; // refused without a word, as the engineer's tools always did
    if (loaded != ImageLoadResult::Loaded) {
        message = loaded == ImageLoadResult::ReadError
                      ? QStringLiteral("Ошибка чения файла")
                      : QString::fromStdString(ImageLoadErrorText(loaded));
        return false;
    }
    if (!session_.Ask().Confirm(Window(),
                                QStringLiteral("Образ считан, записать его в контроллер")))
        return false;

    // No write goes unrecorded: a journal that cannot take the entries stops it here.
    if (const SessionResult ready = session_.JournalReady(); !ready.Ok()) {
        message = QStringLiteral("Запись не начата: ") + ready.text;
        return false;
    }
    // A write is never stopped half-way: it offers no "Прервать".
    const PortSlot slot = session_.Slot();
    const int address = session_.Address();
    SizesRecord* sizes = &session_.Store().Sizes();
    ImageWriteReport report;
    ImageWriteResult result = ImageWriteResult::NotWritten;
    WriteRecorder* recorder = session_.Recorder();
    RunShowingProgress(QStringLiteral("Подождите, идет процесс сохранения данных в контроллер"),
                       ImageWriteTotal(image.data()) + kBarStep, QString(),
                       [&](ExchangeProgress& p) {
                           result = WriteImageToController(
                               slot, address, image, [&p](int done, int) { p.Step(done); }, sizes,
                               &report, recorder);
                       });
    // Whatever got written, the records the window read before are no longer what the
    // controller holds.
    session_.Model().ForgetRecords();
    if (result == ImageWriteResult::WrittenNoRestart) {
        message = QStringLiteral("Образ записан, но контроллер не подтвердил перезапуск");
        return false;
    }
    if (result != ImageWriteResult::Written) {
        message = QString::fromStdString(ImageWriteFailureText(report));
        return false;
    }
    return true;
}

} // namespace velmar::ui
