#include "ui/image_transfer.h"

#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/session.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QSaveFile>
#include <vector>

namespace velmar::ui {

namespace {

constexpr int kImageBufferSize = 0x4800;
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

int CheckImageHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -3;
    const QByteArray header = file.read(len::kSizes);
    if (header.size() < len::kSizes) return -2;
    for (int i = 0; i < len::kSizes; ++i)
        if (i != 4 && header[i] == 0) return -1;
    return 1;
}

ImageTransfer::ImageTransfer(Session& session, QProgressBar& progrImage, QLabel& lImageStat,
                             std::function<void()> identToForm, QObject* parent)
    : QObject(parent), session_(session), progrImage_(progrImage), lImageStat_(lImageStat),
      identToForm_(std::move(identToForm)) {}

void ImageTransfer::Advance(int value) {
    progrImage_.setValue(std::min(value, progrImage_.maximum()));
    QCoreApplication::processEvents();
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
    if (!message.isEmpty()) session_.Ask().Message(nullptr, message);
}

bool ImageTransfer::SaveImage(QString& message) {
    identToForm_();
    if (!session_.ctrlrIdentified || session_.Store().ReadSizes() != 1) {
        message = kNoLink;
        return false;
    }
    const QString path = session_.Ask().SaveFileName(
        nullptr, QStringLiteral("Выберите файл для записи образа контроллера"), kImageFilter,
        QStringLiteral("bin"));
    if (path.isEmpty()) return false;

    const SizesRecord sizes = CtrlrSizes();
    struct Piece {
        int address;
        int length;
    };
    std::vector<Piece> pieces{{addr::kParams, sizes.paramsLength}};
    auto addRecords = [&pieces](int base, int count, int length) {
        if (length <= 0) return;
        for (int n = 0; n < count; ++n) pieces.push_back({ChannelAddress(base, n), length});
    };
    addRecords(addr::kChannelSettsBase, kChannelCount, sizes.settsLength);
    addRecords(addr::kOptionalA, 2, sizes.optionalLength);
    addRecords(addr::kSideStateA, 2, sizes.sideStateLength);
    addRecords(addr::kChannelRegsBase, kChannelCount, sizes.regsLength);
    pieces.push_back({addr::kMakeBlock, len::kMakeBlockImage});
    pieces.push_back({addr::kBlock3000, len::kBlock3000});

    std::vector<uint8_t> image;
    const auto header = sizes.ToBytes();
    image.assign(header.begin(), header.end());
    int total = 0;
    for (const Piece& p : pieces) total += p.length;

    // The file is written only once everything was read, and atomically: a failed save never
    // replaces an earlier image with an empty or partial one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        message = QStringLiteral("Ошибка создания файла ") + path;
        return false;
    }
    lImageStat_.setText(QStringLiteral("Подождите, идет процесс чтения данных из контроллера"));
    lImageStat_.show();
    progrImage_.setRange(0, total);
    progrImage_.setValue(0);
    progrImage_.show();

    const UserInputBlocker blockInput;
    Advance(0);
    for (const Piece& p : pieces) {
        const size_t at = image.size();
        image.resize(at + static_cast<size_t>(p.length));
        if (session_.Store().Read(p.address, p.length, image.data() + at, kSpaceER) <= 0) {
            file.cancelWriting();
            message = QStringLiteral("Ошибка чтения образа из контроллера. Файл не записан");
            return false;
        }
        Advance(static_cast<int>(image.size()) - len::kSizes);
    }
    if (file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<qint64>(image.size())) != static_cast<qint64>(image.size()) ||
        !file.commit()) {
        message = QStringLiteral("Ошибка записи файла ") + path;
        return false;
    }
    return true;
}

void ImageTransfer::bLoadImageClick() {
    {
        TransferRunning running(session_);
        QString message;
        const bool written = LoadImage(message);
        HideProgress();
        if (written) message = QStringLiteral("Образ успешно записан в контроллер");
        if (!message.isEmpty()) session_.Ask().Message(nullptr, message);
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
        session_.Ask().OpenFileName(nullptr, QString(), kImageFilter, QStringLiteral("bin"));
    if (path.isEmpty()) return false;
    if (CheckImageHeader(path) < 0) return false;

    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.read(kImageBufferSize + 1);
    if (bytes.isEmpty()) {
        message = QStringLiteral("Ошибка чения файла");
        return false;
    }
    if (bytes.size() > kImageBufferSize) {
        message = QStringLiteral("Файл слишком велик для образа контроллера");
        return false;
    }
    if (!session_.Ask().Confirm(nullptr, QStringLiteral("Образ считан, записать его в контроллер")))
        return false;

    const auto* image = reinterpret_cast<const uint8_t*>(bytes.constData());
    const int range = 16 * (image[3] + image[5]) + image[0] + 2 * (image[4] + image[6]) + 313;
    progrImage_.setRange(0, range + kBarStep);
    progrImage_.setValue(0);
    progrImage_.show();
    lImageStat_.setText(QStringLiteral("Подождите, идет процесс сохранения данных в контроллер"));
    lImageStat_.show();

    const UserInputBlocker blockInput;
    Advance(0);
    const int result =
        WriteDeviceImage(session_.portSlot, session_.ctrlrAddress, image,
                         static_cast<size_t>(bytes.size()), [this](int done) { Advance(done); });
    if (result != 1) {
        message = QStringLiteral("Образ не записан в контроллер полностью");
        return false;
    }
    RestartCtrlr(session_.portSlot, session_.ctrlrAddress);
    return true;
}

} // namespace velmar::ui
