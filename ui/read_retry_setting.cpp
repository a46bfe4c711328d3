#include "ui/read_retry_setting.h"

#include "protocol/read_retry.h"

namespace velmar::ui {

namespace {
const QString kKey = QStringLiteral("exchange/read_retries");
}

QString ApplyReadRetrySetting(const QSettings& settings) {
    if (!settings.contains(kKey)) return {};
    const QString text = settings.value(kKey).toString().trimmed();
    bool ok = false;
    const int retries = text.toInt(&ok);
    if (!ok || retries < 0 || retries > kMaxReadRetries) {
        return QStringLiteral("%1: %2 = \"%3\" - нужно целое число 0..%4; оставлено %5")
            .arg(settings.fileName(), kKey, text)
            .arg(kMaxReadRetries)
            .arg(ReadRetries());
    }
    SetReadRetries(retries);
    return {};
}

QSettings WindowSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("velmar"),
                     QStringLiteral("velmar"));
}

} // namespace velmar::ui
