// The hydraulic hit volume's key filter and its text both ways.
#include "ui/dialogs/hydro_hit_entry.h"

#include <QKeyEvent>

namespace velmar::ui {

namespace {

constexpr int kHydroHitMax = 50; // hundredths of a litre

} // namespace

bool VolumeKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Shortcuts (select all, copy, paste) are not typing.
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return QObject::eventFilter(watched, event);
        if (text.size() == 1 && text[0].isPrint() && !text[0].isDigit() &&
            text[0] != QLatin1Char(','))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

bool ParseHydroHit(const QString& text, int& hundredths) {
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    const QString whole = comma < 0 ? text : text.left(comma);
    const QString fraction = comma < 0 ? QString() : text.mid(comma + 1);
    if (whole.isEmpty() && fraction.isEmpty()) return false;
    for (const QChar c : whole + fraction)
        if (!c.isDigit()) return false;
    if (whole.toInt() != 0 && !whole.isEmpty()) return false; // one litre and more
    const QString two = (fraction + QStringLiteral("00")).left(2);
    hundredths = two.toInt();
    // Any further digit makes the value larger than its hundredths show.
    const bool beyond = fraction.size() > 2 && fraction.mid(2).toInt() != 0;
    return hundredths < kHydroHitMax || (hundredths == kHydroHitMax && !beyond);
}

QString HydroHitText(int hundredths) {
    if (hundredths % 100 == 0) return QString::number(hundredths / 100);
    QString fraction = QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    if (fraction.endsWith(QLatin1Char('0'))) fraction.chop(1);
    return QString::number(hundredths / 100) + QLatin1Char(',') + fraction;
}

} // namespace velmar::ui
