// Printing and saving the parameter report. Lines are printed at a fixed height below the top
// margin; a new page starts when the next line would cross the bottom margin. A line wider than
// the space between the side margins is broken at blanks (or anywhere, when one word alone is
// too wide), so that nothing is cut off at the right margin.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QFont;
class QPrinter;

namespace velmar::ui {

// Printer device units, at kReportPrintDpi: margins of 200 and lines of 100 - (memo font height),
// i.e. 113 for the memo's font height of -13.
inline constexpr int kReportPrintDpi = 600;
inline constexpr int kReportMargin = 200;
inline constexpr int kReportLineHeight = 113;

// The printed lines of each page for a page of `pageWidth` x `pageHeight` device units;
// `textWidth` measures a line as it is drawn.
QList<QStringList> PaginateReport(const QStringList& lines, int pageWidth, int pageHeight,
                                  const std::function<int(const QString&)>& textWidth);

// Prints the lines as one document; the number of pages, or -1 when the printer could not be
// started.
int PrintReport(QPrinter& printer, const QStringList& lines, const QFont& font);

// Saves the lines as a UTF-8 text file, one line each, replacing `path` only once the whole text
// is written. 0, or an errno value with `error` describing it.
int SaveReportText(const QString& path, const QStringList& lines, std::string& error);

} // namespace velmar::ui
