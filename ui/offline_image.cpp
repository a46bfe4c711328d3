#include "ui/offline_image.h"

#include "data/device_image.h"
#include "data/image_file_store.h"
#include "ui/session.h"

#include <QFileInfo>
#include <algorithm>
#include <string>

namespace velmar::ui {

bool OpenOfflineImage(Session& session, QWidget* parent, const QString& path) {
    const SessionResult opened = session.OpenImage(path.toStdString());
    if (opened.Ok()) return true;
    session.Ask().Message(parent,
                          QStringLiteral("Файл не открыт как образ контроллера:\n") + opened.text);
    return false;
}

QString AskImageFile(Session& session, QWidget* parent, const QString& title) {
    return session.Ask().OpenFileName(parent, title,
                                      QStringLiteral("файл образа (*.bin);;любой файл (*.*)"),
                                      QStringLiteral("bin"));
}

QString SessionWindowTitle(const Session& session) {
    if (const ImageFileStore* file = session.ImageFile())
        return QStringLiteral("Velmar — ") +
               QFileInfo(QString::fromStdString(file->Path())).fileName() +
               QStringLiteral(" (образ)");
    return QStringLiteral("Velmar");
}

bool ReadControllerImage(Session& session, std::vector<uint8_t>& image, QString& error) {
    if (!session.Identified() || session.Store().IsDemo()) {
        error = QStringLiteral("Нет связи с устройством");
        return false;
    }
    const QString text = QStringLiteral("Подождите, идет процесс чтения данных из контроллера");
    const int total = std::max(1, ImageLength(session.Store().Sizes().ToBytes().data()) - 7);
    std::string why;
    const ImageSaveResult result =
        session.LongExchange(text, total, Cancel::Allowed, [&](ExchangeProgress& p) {
            return ReadDeviceImage(
                session.Store(), image, [&p](int done, int) { p.Step(done); }, &why,
                [&p] { return p.Cancelled(); });
        });
    if (result == ImageSaveResult::Saved) return true;
    error = QString::fromStdString(why.empty() ? ImageSaveErrorText(result) : why);
    return false;
}

} // namespace velmar::ui
