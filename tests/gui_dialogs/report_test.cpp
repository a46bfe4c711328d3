// The parameter report dialog: reading on open, the extended mode without a new read, records
// that could not be read, printing to PDF and saving the text.
#include "builders/fake_store.h"
#include "dialogs_fixture.h"
#include "ui/dialogs/report_printing.h"
#include "ui/dialogs/view_param.h"

#include <QCheckBox>
#include <QFile>
#include <QPrinter>
#include <QProcess>

namespace velmar::test {
namespace {

constexpr uint16_t kAllFlags = 0x7B8C; // every status flag the report names

class ReportTest : public DialogsTest {
  protected:
    // Status flags and fiscal totaliser of channel n in the simulator.
    void SetRegs(int n, uint16_t flags, int32_t whole, uint8_t fraction) {
        const auto w = static_cast<uint32_t>(whole);
        SetSimBytes(RegsAt(n) + 2, {static_cast<uint8_t>(flags), static_cast<uint8_t>(flags >> 8)});
        SetSimBytes(RegsAt(n) + 46,
                    {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                     static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24), fraction});
    }
    QStringList Print(ui::TformViewParam& dialog, const QString& fileName) {
        prompts->onPrint = [fileName](QPrinter& printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(fileName);
            printer.setPageSize(QPageSize(QPageSize::A4));
            return true;
        };
        Click(Get<QPushButton>(dialog, "bSaveToText"));
        return dialog.Lines();
    }
    static QString Run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        p.waitForFinished();
        return QString::fromUtf8(p.readAllStandardOutput());
    }
};

TEST_F(ReportTest, ExtendedModeRebuildsFromTheBytesReadOnOpen) {
    sim::Options options;
    options.hosesPerSide = 2;
    StartBus(options);
    SetRegs(0, 0x0084, 1234, 5);
    SetRegs(3, 0, -7, 0);
    auto& dialog = Make<ui::TformViewParam>();
    Open(dialog);
    QStringList lines = dialog.Lines();
    EXPECT_EQ(lines.first(), U("\tТрк №1"));
    EXPECT_TRUE(lines.contains(U("Фискальный счетчик  сторона А, 1 рукав = 1234,5")));
    EXPECT_TRUE(lines.contains(U("Фискальный счетчик  сторона Б, 2 рукав = -7,0")));
    EXPECT_FALSE(lines.contains(U("Состояние рукава Сторона А №1")));

    // The controller changes meanwhile: the extended report still shows what was read.
    SetRegs(0, 0x0008, 99, 0);
    Click(Get<QCheckBox>(dialog, "checkAdvanceMode"));
    Screenshot(dialog, QStringLiteral("parameter_report"));
    lines = dialog.Lines();
    const qsizetype block = lines.indexOf(U("Состояние рукава Сторона А №1"));
    ASSERT_GE(block, 0);
    EXPECT_EQ(lines.mid(block + 1, 3),
              QStringList({U("Канал активирован"), U("Ошибка питания"), U("Авария датчика")}));
    EXPECT_FALSE(lines.contains(U("Состояние рукава Сторона Б №2"))); // flags 0: no block
    EXPECT_TRUE(lines.contains(U("Фискальный счетчик  сторона А, 1 рукав = 1234,5")));
}

// A record that cannot be read (or comes short) is named in the report; the records after it
// stay at their own places.
TEST_F(ReportTest, UnreadRecordsAreNamedAndLaterRecordsStayInPlace) {
    NewSession();
    auto store = std::make_unique<FakeStore>();
    FakeStore& fake = *store;
    uint8_t block[58] = {};
    block[2] = 1;
    block[4] = 2; // hoses
    block[5] = 1; // sides
    fake.PutParams(block, 58);
    fake.At(RegsAt(1))[46] = 42;
    fake.failRead.insert(ChannelAddress(addr::kChannelSettsBase, 2));
    fake.shortRead.insert(addr::kMakeBlock);
    session->SetStore(std::move(store));
    session->SetAddress(1);

    auto& dialog = Make<ui::TformViewParam>();
    Open(dialog);
    const QStringList lines = dialog.Lines();
    EXPECT_EQ(lines.mid(1, 3),
              QStringList({U("Не считаны из контроллера (в отчете показаны нулями):"),
                           U("    настройки канала 3"), U("    настройки НАРА_АЗС")}));
    EXPECT_TRUE(lines.contains(U("Фискальный счетчик  сторона А, 2 рукав = 42,0")));
}

TEST_F(ReportTest, LongReportPrintsOnThreePagesOfPdf) {
    sim::Options options;
    options.hosesPerSide = 8;
    StartBus(options);
    SetSimParams({{30, 0}, {31, 0}});
    for (int n = 0; n < 9; ++n) SetRegs(n, kAllFlags, 1000 + n, 1);
    auto& dialog = Make<ui::TformViewParam>();
    Open(dialog);
    Click(Get<QCheckBox>(dialog, "checkAdvanceMode"));
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    const QStringList lines = Print(dialog, pdf);
    ASSERT_GT(lines.size(), 2 * 58); // more than two pages' worth
    ASSERT_LT(lines.size(), 3 * 58);

    EXPECT_TRUE(
        Run(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression("Pages:\\s+3\\n")));
    const QString text = Run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(U("Трк №1")));
    EXPECT_TRUE(text.contains(U("Фискальный счетчик сторона Б, 8 рукав")) ||
                text.contains(U("Фискальный счетчик  сторона Б, 8 рукав")));
    EXPECT_TRUE(text.contains(U("Состояние рукава Сторона Б №1")));
    EXPECT_TRUE(text.contains(U("Состояние рукава Сторона Б №8"))); // the last page
    EXPECT_EQ(text.count(QLatin1Char('\f')), 3);
    if (const QString shots = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR"); !shots.isEmpty())
        QFile::copy(pdf, shots + QStringLiteral("/report.pdf"));
}

// The print dialog's print-to-file with another name than *.pdf saves the memo's text under
// that name, without asking for a name again.
TEST_F(ReportTest, PrintToFileSavesTheTextUnderTheNameGiven) {
    StartBus();
    auto& dialog = Make<ui::TformViewParam>();
    Open(dialog);
    const QString other = dir.filePath(QStringLiteral("report.txt"));
    prompts->saveNames.push_back(other);
    const QString saved = dir.filePath(QStringLiteral("print.prn"));
    const QStringList lines = Print(dialog, saved);
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_EQ(prompts->saveNames.size(), 1u); // no save dialog
}

// Pagination: lines at a fixed pitch below the top margin, a new page when the next would cross
// the bottom one, and lines wider than the page broken at blanks (or anywhere) instead of cut.
TEST(ReportPagination, PagesAndBrokenLines) {
    const auto width = [](const QString& s) { return static_cast<int>(s.size()) * 10; };
    using Pages = QList<QStringList>;
    struct Case {
        QStringList lines;
        int pageWidth, pageHeight;
        Pages pages;
    } cases[] = {
        // Room for (1000 - 400) / 113 = 5 lines.
        {{"1", "2", "3", "4", "5", "6"}, 1000, 1000, Pages{{"1", "2", "3", "4", "5"}, {"6"}}},
        {{"aaaa bbbb cc"}, 480, 2000, Pages{QStringList{"aaaa", "bbbb cc"}}},
        {{"abcdefghij"}, 470, 2000, Pages{QStringList{"abcdefg", "hij"}}},
        {{"1", "2"}, 1000, 300, Pages{{"1"}, {"2"}}}, // a page always takes a line
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::PaginateReport(c.lines, c.pageWidth, c.pageHeight, width), c.pages)
            << c.lines.join(QLatin1Char('|')).toStdString();
}

TEST_F(ReportTest, DemoImageReportHasEveryRecord) {
    StartDemo();
    auto& dialog = Make<ui::TformViewParam>();
    Open(dialog);
    const QStringList lines = dialog.Lines();
    EXPECT_EQ(lines.first(), U("\tТрк №1"));
    EXPECT_EQ(lines[1], QString());
    EXPECT_TRUE(lines.contains(U("\tФискальные счетчики.")));
}

} // namespace
} // namespace velmar::test
