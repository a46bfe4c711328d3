#include "ui/file_places.h"

#include "base/atomic_file.h"
#include "link/serial_port.h"
#include "ui/session.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace velmar::ui {

namespace {

const QString kDemoImageName = QStringLiteral("demo_trk.bin");
constexpr size_t kMaxDemoImage = 65534;

// The folder itself when it exists (links resolved), else its cleaned absolute form.
QString Canonical(const QString& dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(dir).absolutePath()) : canonical;
}

bool IsInside(const QString& dir, const QString& tree) {
    return dir == tree || dir.startsWith(tree + QLatin1Char('/'));
}

} // namespace

bool IsInstalledProgram(const QString& programDir, const QString& buildDir) {
    const QString dir = Canonical(programDir);
    if (!buildDir.isEmpty() && IsInside(dir, Canonical(buildDir))) return false;
    const QString binDir = QDir::cleanPath(QStringLiteral(VELMAR_INSTALL_BINDIR));
    return dir.endsWith(QLatin1Char('/') + binDir);
}

FilePlaces ChooseFilePlaces(const QString& programDir) {
    FilePlaces places;
    places.installed = IsInstalledProgram(programDir, QStringLiteral(VELMAR_BUILD_TREE));
    if (!places.installed) {
        places.comIni = QStringLiteral("com.ini");
        places.demoImage = kDemoImageName;
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
    places.shippedDemoImage =
        QDir::cleanPath(Canonical(programDir) + QLatin1Char('/') +
                        QStringLiteral(VELMAR_BIN_TO_DEMO_DIR) + QLatin1Char('/') + kDemoImageName);
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
    if (ReadWholeFile(places.shippedDemoImage.toStdString(), bytes, kMaxDemoImage) != kFileOk)
        return QStringLiteral("cannot read ") + places.shippedDemoImage;
    std::string error;
    if (WriteFileAtomically(places.demoImage.toStdString(), bytes.data(), bytes.size(), &error) !=
        0)
        return places.demoImage + QStringLiteral(": ") + QString::fromStdString(error);
    return {};
}

void UseFilePlaces(const FilePlaces& places, Session& session) {
    session.Options().comIniPath = places.comIni.toStdString();
    session.Options().demoImagePath = places.demoImage.toStdString();
    if (!places.exchangeLog.isEmpty()) SetExchangeLogPath(places.exchangeLog.toUtf8().constData());
}

} // namespace velmar::ui
