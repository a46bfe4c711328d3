#include "ui/file_places.h"

#include "base/atomic_file.h"
#include "data/demo_place.h"
#include "data/journal_place.h"
#include "link/serial_port.h"
#include "ui/session.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmar::ui {

namespace {

const QString kDemoImageName = QString::fromLatin1(velmar::kDemoImageName);
constexpr size_t kMaxDemoImage = 65534;

} // namespace

bool IsInstalledProgram(const QString& programDir, const QString& buildDir) {
    return velmar::IsInstalledProgram(programDir.toStdString(), buildDir.toStdString());
}

FilePlaces ChooseFilePlaces(const QString& programDir) {
    FilePlaces places;
    places.installed = velmar::IsInstalledProgram(programDir.toStdString());
    if (!places.installed) {
        places.comIni = QStringLiteral("com.ini");
        places.demoImage = kDemoImageName;
        places.journal = QString::fromLatin1(kJournalFileName);
        return places;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/velmar");
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/velmar");
    places.comIni = config + QStringLiteral("/com.ini");
    // A log folder named in the environment still wins, as it does for a build-tree program.
    if (qEnvironmentVariableIsEmpty("VELMAR_LOG_DIR"))
        places.exchangeLog = data + QStringLiteral("/port.out");
    places.demoImage = data + QLatin1Char('/') + kDemoImageName;
    places.journal = data + QLatin1Char('/') + QString::fromLatin1(kJournalFileName);
    places.shippedDemoImage = QString::fromStdString(ShippedDemoImage(programDir.toStdString()));
    return places;
}

QString PrepareFilePlaces(const FilePlaces& places, bool demoMode) {
    if (!places.installed) return {};
    for (const QString& file : {places.comIni, places.demoImage})
        if (!QDir().mkpath(QFileInfo(file).absolutePath()))
            return QStringLiteral("cannot create ") + QFileInfo(file).absolutePath();
    if (!demoMode || QFileInfo::exists(places.demoImage)) return {};
    // Without an installed copy the demo start finds no image, which it reports itself.
    if (!QFileInfo::exists(places.shippedDemoImage)) return {};
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(places.shippedDemoImage.toStdString(), bytes, kMaxDemoImage) !=
        FileReadResult::Read)
        return QStringLiteral("cannot read ") + places.shippedDemoImage;
    std::string error;
    if (WriteFileAtomically(places.demoImage.toStdString(), bytes.data(), bytes.size(), &error) !=
        0)
        return places.demoImage + QStringLiteral(": ") + QString::fromStdString(error);
    return {};
}

void UseFilePlaces(const FilePlaces& places, SessionOptions& options) {
    options.comIniPath = places.comIni.toStdString();
    options.demoImagePath = places.demoImage.toStdString();
    options.journalPath = places.journal.toStdString();
    if (!places.exchangeLog.isEmpty()) SetExchangeLogPath(places.exchangeLog.toUtf8().constData());
}

} // namespace velmar::ui
