#include "ui/dialogs/report_printing.h"

#include "base/atomic_file.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

namespace velmar::ui {

namespace {

constexpr int kDrawFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
constexpr qsizetype kTabStop = 8; // characters

// Tabs become blanks up to the next stop of eight characters, as a plain text printer shows
// them (the painter's own stops lie far apart at printer resolution).
QString ExpandTabs(const QString& line) {
    QString out;
    for (const QChar c : line) {
        if (c == QLatin1Char('\t')) {
            out += QString(kTabStop - out.size() % kTabStop, QLatin1Char(' '));
        } else {
            out += c;
        }
    }
    return out;
}

// Breaks one line into pieces no wider than `width`.
QStringList BreakLine(const QString& line, int width,
                      const std::function<int(const QString&)>& textWidth) {
    QStringList pieces;
    QString rest = line;
    while (textWidth(rest) > width) {
        // The longest head that fits, ended at a blank when there is one.
        qsizetype fit = 1;
        while (fit < rest.size() && textWidth(rest.left(fit + 1)) <= width) ++fit;
        const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), fit);
        const qsizetype cut = blank > 0 ? blank : fit;
        pieces << rest.left(cut);
        rest = rest.mid(cut);
        if (blank > 0) rest.remove(0, 1);
    }
    pieces << rest;
    return pieces;
}

} // namespace

QList<QStringList> PaginateReport(const QStringList& lines, int pageWidth, int pageHeight,
                                  const std::function<int(const QString&)>& textWidth) {
    const int width = pageWidth - 2 * kReportMargin;
    QList<QStringList> pages{QStringList{}};
    for (const QString& line : lines) {
        for (const QString& piece : BreakLine(line, width, textWidth)) {
            const int k = static_cast<int>(pages.last().size());
            // A page always takes at least one line, however small it is.
            if (k > 0 && pageHeight - kReportMargin < (k + 1) * kReportLineHeight + kReportMargin)
                pages << QStringList{};
            pages.last() << piece;
        }
    }
    return pages;
}

int PrintReport(QPrinter& printer, const QStringList& lines, const QFont& font) {
    // Positions count from the paper's edge, as the margins are given.
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer)) return -1;
    painter.setFont(font);
    const QFontMetrics metrics(font, &printer);
    const QRect page = printer.pageLayout().fullRectPixels(printer.resolution());
    const auto width = [&](const QString& text) {
        return metrics.boundingRect(QRect(0, 0, 1 << 20, kReportLineHeight), kDrawFlags, text)
            .width();
    };
    QStringList expanded;
    for (const QString& line : lines) expanded << ExpandTabs(line);
    const QList<QStringList> pages = PaginateReport(expanded, page.width(), page.height(), width);
    for (qsizetype p = 0; p < pages.size(); ++p) {
        if (p > 0) printer.newPage();
        for (qsizetype k = 0; k < pages[p].size(); ++k) {
            const int top = kReportMargin + static_cast<int>(k) * kReportLineHeight;
            const QRect box(kReportMargin, top, page.width() - 2 * kReportMargin,
                            kReportLineHeight);
            painter.drawText(box, kDrawFlags, pages[p][k]);
        }
    }
    painter.end();
    return static_cast<int>(pages.size());
}

int SaveReportText(const QString& path, const QStringList& lines, std::string& error) {
    QByteArray text;
    for (const QString& line : lines) text += line.toUtf8() + '\n';
    return WriteFileAtomically(path.toStdString(),
                               reinterpret_cast<const uint8_t*>(text.constData()),
                               static_cast<size_t>(text.size()), &error);
}

} // namespace velmar::ui
