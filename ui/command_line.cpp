#include "ui/command_line.h"

namespace velmar::ui {

namespace {

// Takes our own options out of `args` and leaves the classic ones.
QStringList TakeOwnOptions(const QStringList& args, CommandLine& out) {
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port")) {
            if (i + 1 < args.size())
                out.portName = args[++i];
            else
                out.errors << QStringLiteral("--port: не указано имя порта");
        } else if (a.startsWith(QLatin1String("--port="))) {
            out.portName = a.mid(7);
        } else if (a == QLatin1String("--image")) {
            if (i + 1 < args.size())
                out.imagePath = args[++i];
            else
                out.errors << QStringLiteral("--image: не указан файл образа");
        } else if (a.startsWith(QLatin1String("--image="))) {
            out.imagePath = a.mid(8);
        } else if (a == QLatin1String("--journal")) {
            if (i + 1 < args.size())
                out.journalPath = args[++i];
            else
                out.errors << QStringLiteral("--journal: не указан файл журнала");
        } else if (a.startsWith(QLatin1String("--journal="))) {
            out.journalPath = a.mid(10);
        } else if (a == QLatin1String("--service")) {
            out.service = true;
        } else if (a == QLatin1String("--simulate")) {
            out.simulate = true;
        } else if (a.startsWith(QLatin1String("--simulate="))) {
            out.simulate = true;
            out.simulatedAddresses.clear();
            for (const QString& part : a.mid(11).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                bool ok = false;
                const int n = part.toInt(&ok, 0);
                if (ok && n > 0 && n < 256 && n != 240)
                    out.simulatedAddresses.push_back(n);
                else
                    out.errors << QStringLiteral("--simulate: неверный номер ") + part;
            }
            if (out.simulatedAddresses.empty()) out.simulatedAddresses.push_back(1);
        } else {
            rest << a;
        }
    }
    return rest;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine out;
    const QStringList rest = TakeOwnOptions(args, out);
    if (!rest.isEmpty() && (rest[0] == QLatin1String("/i") || rest[0] == QLatin1String("/I")))
        out.demoMode = true;
    if (rest.size() == 2 && rest[0] == QLatin1String("-tfind")) {
        // A number that does not parse, or one below 1, keeps the default interval.
        bool ok = false;
        const int ms = rest[1].toInt(&ok, 10);
        if (ok && ms > 0)
            out.findIntervalMs = ms;
        else
            out.errors << QStringLiteral("-tfind: неверный интервал ") + rest[1];
    }
    return out;
}

} // namespace velmar::ui
