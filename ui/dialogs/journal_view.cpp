#include "ui/dialogs/journal_view.h"

#include "base/atomic_file.h"
#include "data/journal_record.h"
#include "ui/fields/accessible_names.h"
#include "ui/session.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace velmar::ui {

namespace {

const QStringList& Columns() {
    static const QStringList columns{
        QStringLiteral("Время"), QStringLiteral("Кто"),     QStringLiteral("Операция"),
        QStringLiteral("Порт"),  QStringLiteral("Трк"),     QStringLiteral("Запись"),
        QStringLiteral("Поле"),  QStringLiteral("Было"),    QStringLiteral("Стало"),
        QStringLiteral("Итог"),  QStringLiteral("Метрол."), QStringLiteral("Источник")};
    return columns;
}

constexpr int kMetrologicalColumn = 10;
constexpr int kWidth = 1000;
constexpr int kHeight = 560;
// Dates as the rest of the window writes them, whatever the system's locale.
constexpr const char* kDateFormat = "dd.MM.yyyy";

QStringList Row(const JournalEntry& e) {
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    return {q(JournalLocalTime(e.time)),
            q(e.user + "@" + e.host),
            q(e.operation.empty() ? e.program : e.operation),
            q(e.port),
            QString::number(e.ctrlr),
            q(e.record),
            q(e.caption),
            q(e.oldValue),
            q(e.newValue),
            q(e.outcome),
            IsMetrologicalField(e.recordKind, e.field) ? QStringLiteral("М") : QString(),
            q(e.origin)};
}

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The first column's date in the journal's UTC text, from local midnight.
std::string DayStart(const QDate& day) {
    return JournalTimeFromUser(day.toString(Qt::ISODate).toStdString());
}

} // namespace

TJournalView::TJournalView(Session& session, const std::string& journalPath, QWidget* parent)
    : QDialog(parent), session_(session), path_(journalPath) {
    setWindowTitle(QStringLiteral("Журнал изменений"));
    resize(kWidth, kHeight);

    auto* filters = new QHBoxLayout;
    auto* ctrlrLabel = new QLabel(QStringLiteral("Трк №"), this);
    ctrlr_ = new QSpinBox(this);
    ctrlr_->setObjectName(QStringLiteral("eCtrlr"));
    ctrlr_->setRange(0, 255);
    ctrlr_->setSpecialValueText(QStringLiteral("все"));
    ctrlrLabel->setBuddy(ctrlr_);
    usePeriod_ = new QCheckBox(QStringLiteral("За период с"), this);
    usePeriod_->setObjectName(QStringLiteral("cbPeriod"));
    since_ = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    since_->setObjectName(QStringLiteral("eSince"));
    since_->setCalendarPopup(true);
    since_->setDisplayFormat(QString::fromLatin1(kDateFormat));
    since_->setAccessibleName(QStringLiteral("Период с"));
    auto* untilLabel = new QLabel(QStringLiteral("по"), this);
    until_ = new QDateEdit(QDate::currentDate(), this);
    until_->setObjectName(QStringLiteral("eUntil"));
    until_->setCalendarPopup(true);
    until_->setDisplayFormat(QString::fromLatin1(kDateFormat));
    untilLabel->setBuddy(until_);
    auto* fieldLabel = new QLabel(QStringLiteral("Поле"), this);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("eField"));
    fieldLabel->setBuddy(field_);
    auto* show = new QPushButton(QStringLiteral("Показать"), this);
    show->setObjectName(QStringLiteral("bShow"));
    for (QWidget* w : std::initializer_list<QWidget*>{ctrlrLabel, ctrlr_, usePeriod_, since_,
                                                      untilLabel, until_, fieldLabel, field_, show})
        filters->addWidget(w);

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("tEntries"));
    table_->setAccessibleName(QStringLiteral("Записи журнала"));
    table_->setColumnCount(static_cast<int>(Columns().size()));
    table_->setHorizontalHeaderLabels(Columns());
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("lSummary"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* csv =
        buttons->addButton(QStringLiteral("Сохранить в CSV…"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("bCsv"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table_);
    layout->addWidget(summary_);
    layout->addWidget(buttons);

    connect(show, &QPushButton::clicked, this, &TJournalView::Refresh);
    connect(field_, &QLineEdit::returnPressed, this, &TJournalView::Refresh);
    connect(csv, &QPushButton::clicked, this, &TJournalView::ExportCsv);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    NameInputControls(this);
    Refresh();
    FitColumns();
}

// Every column in view without scrolling sideways, as far as the screen allows.
void TJournalView::FitColumns() {
    const QMargins margins = layout()->contentsMargins();
    int wanted = margins.left() + margins.right() + 2 * table_->frameWidth() +
                 table_->verticalScrollBar()->sizeHint().width();
    // Sized to their contents, but for the last, which stretches over what is left.
    QHeaderView* header = table_->horizontalHeader();
    const int last = table_->columnCount() - 1;
    header->setStretchLastSection(false);
    table_->resizeColumnToContents(last);
    wanted += header->length();
    header->setStretchLastSection(true);
    const QScreen* screen = this->screen();
    const int room = screen != nullptr ? screen->availableGeometry().width() : wanted;
    if (wanted > width()) resize(std::min(wanted, room), height());
}

bool TJournalView::Refresh() {
    entries_.clear();
    table_->setRowCount(0);
    if (!QFileInfo::exists(QString::fromStdString(path_))) {
        summary_->setText(QStringLiteral("Журнал изменений пуст: ") +
                          QString::fromStdString(path_));
        return true;
    }
    std::string error;
    const auto journal = Journal::OpenExisting(path_, error);
    if (journal == nullptr) {
        summary_->setText(QString::fromStdString(error));
        return false;
    }
    JournalFilter filter;
    filter.ctrlr = ctrlr_->value();
    filter.field = field_->text().trimmed().toStdString();
    if (usePeriod_->isChecked()) {
        filter.since = DayStart(since_->date());
        filter.until = DayStart(until_->date().addDays(1));
    }
    entries_ = journal->List(filter, error);
    if (!error.empty()) {
        summary_->setText(QString::fromStdString(error));
        return false;
    }
    table_->setRowCount(static_cast<int>(entries_.size()));
    int metrological = 0;
    for (int r = 0; r < static_cast<int>(entries_.size()); ++r) {
        const QStringList cells = Row(entries_[static_cast<size_t>(r)]);
        const bool mark = !cells[kMetrologicalColumn].isEmpty();
        metrological += mark ? 1 : 0;
        for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (mark) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            table_->setItem(r, c, item);
        }
    }
    table_->resizeColumnsToContents();
    std::string why;
    const bool intact = journal->Verify(why) == 0;
    summary_->setText(QStringLiteral("Записей: %1, метрологических: %2. ")
                          .arg(entries_.size())
                          .arg(metrological) +
                      (intact ? QStringLiteral("Цепочка записей цела.")
                              : QStringLiteral("ЖУРНАЛ НАРУШЕН: ") + QString::fromStdString(why)));
    return true;
}

QByteArray TJournalView::Csv() const {
    QString text = Columns().join(QLatin1Char(';')) + QLatin1Char('\n');
    for (const JournalEntry& e : entries_) {
        QStringList cells = Row(e);
        for (QString& c : cells) c = CsvField(c);
        text += cells.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void TJournalView::ExportCsv() {
    const QString path =
        session_.Ask().SaveFileName(this, QStringLiteral("Сохранить журнал"),
                                    QStringLiteral("CSV (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty()) return;
    const QByteArray bytes = Csv();
    std::string error;
    if (WriteFileAtomically(path.toStdString(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                            static_cast<size_t>(bytes.size()), &error) != 0)
        session_.Ask().Message(this, QStringLiteral("Журнал не сохранен: ") +
                                         QString::fromStdString(error));
}

} // namespace velmar::ui
