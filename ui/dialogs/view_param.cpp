#include "ui/dialogs/view_param.h"

#include "data/report.h"
#include "ui/dialogs/report_printing.h"
#include "ui/session.h"
#include "ui_view_param.h"

#include <QFont>
#include <QPrinter>
#include <QShowEvent>

namespace velmar::ui {

namespace {

constexpr int kMemoFontHeight = 13; // pixels, as the memo shows it

QFont MemoFont() {
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(kMemoFontHeight);
    return font;
}

// The same face on paper: 13 pixels of a 96-dpi screen.
QFont PrintFont() {
    QFont font = MemoFont();
    font.setPointSizeF(kMemoFontHeight * 72.0 / 96.0);
    return font;
}

bool IsPdfName(const QString& name) {
    return name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

} // namespace

TformViewParam::TformViewParam(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), ui_(std::make_unique<Ui::TformViewParam>()) {
    ui_->setupUi(this);
    setFixedSize(640, 480);
    ui_->mParam1->setFont(MemoFont());
    ui_->mParam1->setAccessibleName(windowTitle());
    ui_->checkAdvanceMode->setAccessibleName(ui_->checkAdvanceMode->text());
    connect(ui_->checkAdvanceMode, &QCheckBox::clicked, this,
            &TformViewParam::checkAdvanceModeClick);
    connect(ui_->bSaveToText, &QPushButton::clicked, this, &TformViewParam::bSaveToTextClick);
}

TformViewParam::~TformViewParam() = default;

void TformViewParam::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TformViewParam::done(int result) {
    buffer_.reset();
    QDialog::done(result);
}

void TformViewParam::FormShow() {
    ui_->mParam1->clear();
    buffer_ = std::make_unique<DeviceBuffer>();
    unread_.clear();
    RecordStore& store = session_.Store();
    DeviceBuffer& buffer = *buffer_;
    std::vector<int>& unread = unread_;
    // Each record is read into its own place: one that fails is listed in the report instead of
    // pushing the records after it onto the wrong bytes.
    session_.LongExchange(QStringLiteral("Чтение параметров устройства"), kReportRecordCount,
                          Cancel::Allowed, [&](ExchangeProgress& progress) {
                              for (int i = 0; i < kReportRecordCount; ++i) {
                                  if (progress.Cancelled()) {
                                      for (int j = i; j < kReportRecordCount; ++j)
                                          unread.push_back(j);
                                      return false;
                                  }
                                  if (!ReadReportRecord(store, buffer, i)) unread.push_back(i);
                                  progress.Step(i + 1);
                              }
                              return true;
                          });
    ShowText();
}

void TformViewParam::ShowText() {
    ui_->mParam1->clear();
    if (!buffer_) return;
    std::vector<std::string> lines =
        ReportLines(*buffer_, session_.Address(), ui_->checkAdvanceMode->isChecked());
    const std::vector<std::string> unread = UnreadRecordLines(unread_);
    lines.insert(lines.begin() + 1, unread.begin(), unread.end());
    QStringList text;
    for (const std::string& line : lines) text << QString::fromStdString(line);
    ui_->mParam1->setPlainText(text.join(QLatin1Char('\n')));
}

void TformViewParam::checkAdvanceModeClick() {
    ShowText();
}

QStringList TformViewParam::Lines() const {
    return ui_->mParam1->toPlainText().split(QLatin1Char('\n'));
}

void TformViewParam::bSaveToTextClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setResolution(kReportPrintDpi);
    printer.setDocName(windowTitle());
    if (!session_.Ask().PrintSetup(this, printer)) return;
    const QStringList lines = Lines();
    // Print to file: a name ending in .pdf gets the printed pages, any other the text itself
    // (the print dialog offers only PDF on some systems).
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty() &&
        !IsPdfName(printer.outputFileName())) {
        SaveLines(printer.outputFileName(), lines);
        return;
    }
    if (PrintReport(printer, lines, PrintFont()) < 0)
        session_.Ask().Message(this, QStringLiteral("Ошибка печати"));
}

void TformViewParam::SaveLines(const QString& name, const QStringList& lines) {
    std::string error;
    if (SaveReportText(name, lines, error) != 0) {
        session_.Ask().Message(this, QStringLiteral("Файл не сохранен: ") +
                                         QString::fromStdString(error));
    }
}

} // namespace velmar::ui
