#include "ui/read_retry_setting.h"

#include "protocol/read_retry.h"

#include <atomic>

namespace velmar::ui {

namespace {
const QString kKey = QStringLiteral("exchange/read_retries");
// Set at start on the window thread, read by the exchange thread as it opens a port.
std::atomic<int> windowReadRetries{kDefaultReadRetries};
} // namespace

QString ApplyReadRetrySetting(const QSettings& settings) {
    windowReadRetries.store(kDefaultReadRetries);
    if (!settings.contains(kKey)) return {};
    const QString text = settings.value(kKey).toString().trimmed();
    bool ok = false;
    const int retries = text.toInt(&ok);
    if (!ok || retries < 0 || retries > kMaxReadRetries) {
        return QStringLiteral("%1: %2 = \"%3\" - нужно целое число 0..%4; оставлено %5")
            .arg(settings.fileName(), kKey, text)
            .arg(kMaxReadRetries)
            .arg(kDefaultReadRetries);
    }
    windowReadRetries.store(retries);
    return {};
}

int WindowReadRetries() {
    return windowReadRetries.load();
}

QSettings WindowSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmar"),
                     QStringLiteral("velmar"));
}

} // namespace velmar::ui
