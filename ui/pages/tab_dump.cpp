#include "ui/pages/tab_dump.h"

#include "data/dump_layout.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "protocol/cp1251_text.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/char_key_filter.h"
#include "ui/fields/field_grid.h"
#include "ui/pages/status_line.h"
#include "ui/session.h"
#include "ui_tab_dump.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <algorithm>

namespace velmar::ui {

namespace {

constexpr int kAddressWidth = 85;
constexpr int kTextWidth = 165;
constexpr const char* kDemoWrite = "Демонстарционная версия программы";

QString CellText(const QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item != nullptr ? item->text() : QString();
}

// A byte of the text column: 0 as a blank, control bytes as a point (a line break would tear
// the row apart), every other byte as its character.
QString TextOf(uint8_t b) {
    if (b == 0) return QStringLiteral(" ");
    if (b < 0x20 || b == 0x7F) return QStringLiteral("."); // DEL is a control character too
    return QString::fromStdString(Cp1251ByteToUtf8(b));
}

} // namespace

TabDump::TabDump(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabDump>()) {
    ui->setupUi(this);
    NameInputsByLabels(this);
    ui->sg1->setAccessibleName(QStringLiteral("Дамп памяти"));
    ui->sg2->setAccessibleName(QStringLiteral("Заголовок дампа"));
    ui->sg1->setColumnCount(kDumpColumns);
    // Columns and rows as narrow as the dump needs (the headers' own minimums are wider).
    for (QTableWidget* grid : {ui->sg1, ui->sg2}) {
        grid->horizontalHeader()->setMinimumSectionSize(1);
        grid->verticalHeader()->setMinimumSectionSize(1);
        grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    }
    ui->sg1->horizontalHeader()->hide();
    ui->sg1->verticalHeader()->hide();
    ui->sg1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->sg1->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->sg1->installEventFilter(this);
    // The digit columns share what the address and text columns leave of the grid's width.
    ui->sg1->viewport()->installEventFilter(this);
    ui->sg2->setRowCount(1);
    ui->sg2->setColumnCount(3);
    ui->sg2->horizontalHeader()->hide();
    ui->sg2->verticalHeader()->hide();
    ui->sg2->setSelectionMode(QAbstractItemView::NoSelection);
    ui->sg2->setFocusPolicy(Qt::NoFocus);
    ui->sg2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->sg2->setFixedHeight(ui->sg2->rowHeight(0) + 2 * ui->sg2->frameWidth());
    const QString headers[3] = {QStringLiteral("Adres"), QStringLiteral("Hex data"),
                                QStringLiteral("ASCII data")};
    for (int c = 0; c < 3; ++c) ui->sg2->setItem(0, c, new QTableWidgetItem(headers[c]));
    ui->sg2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->sg2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // Both fields start marked: "Читать" waits until both were left with valid text.
    for (QLineEdit* field : {ui->eAdresDump, ui->eCountByteDump}) {
        SetMark(field, true, MarkLook::Background, marks_);
        connect(new LeaveWatcher(field), &LeaveWatcher::left, this,
                [this, field] { FieldExit(field); });
    }
    new CharKeyFilter(ui->eCountByteDump, kHexDigits);
    // The count is marked from its own text as it is typed.
    connect(ui->eCountByteDump, &QLineEdit::textChanged, this,
            [this] { FieldExit(ui->eCountByteDump); });
    ui->rbER->setChecked(true);
    ui->bReadDump->setEnabled(false);
    ui->bWriteDump->setEnabled(false);
    ui->lGridPointer->setText(QStringLiteral("100%"));

    connect(ui->bReadDump, &QPushButton::clicked, this, &TabDump::bReadDumpClick);
    connect(ui->bWriteDump, &QPushButton::clicked, this, &TabDump::bWriteDumpClick);
    connect(ui->sg1, &QTableWidget::currentCellChanged, this, &TabDump::sg1SelectCell);
}

TabDump::~TabDump() = default;

void TabDump::FieldExit(QLineEdit* field) {
    uint32_t value = 0;
    SetMark(field, !ParseDumpHex(field->text().toStdString(), value), MarkLook::Background, marks_);
    ui->bReadDump->setEnabled(!IsMarked(ui->eAdresDump) && !IsMarked(ui->eCountByteDump));
}

uint8_t TabDump::SelectedSpace() const {
    if (ui->rbIR->isChecked()) return kSpaceIR;
    if (ui->rbIM->isChecked()) return kSpaceIM;
    return kSpaceER;
}

const char* TabDump::SpaceName(uint8_t space) {
    return space == kSpaceIR ? "IR" : space == kSpaceIM ? "IM" : "ER";
}

// ---- Reading and writing ----------------------------------------------------------------------

void TabDump::bReadDumpClick() {
    uint32_t address = 0;
    uint32_t count = 0;
    if (!ParseDumpHex(ui->eAdresDump->text().toStdString(), address) ||
        !ParseDumpHex(ui->eCountByteDump->text().toStdString(), count))
        return;
    const DumpRange range = DumpRangeCheck(address, count);
    if (range == DumpRange::TooLong) {
        ReportFailure(session_, this, kDumpRangeText);
        return;
    }
    if (range == DumpRange::Empty) {
        // Nothing to read (a length of 0 would ask for a self-sized record instead).
        Take(address, SelectedSpace(), {});
        OutputDump();
        ui->bWriteDump->setEnabled(false);
        return;
    }

    if (session_.Store().IsDemo()) {
        std::vector<uint8_t> bytes(count);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(demoBytes_() % 255);
        Take(address, kSpaceER, std::move(bytes));
        OutputDump();
        ui->bWriteDump->setEnabled(true);
        return;
    }

    const uint8_t space = SelectedSpace();
    const int total = static_cast<int>(count);
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const ReadResult read = session_.LongExchange(
        QStringLiteral("Чтение памяти"), total, Cancel::Allowed, [&](ExchangeProgress& p) {
            // One transaction at a time, so that a cancel takes effect between them.
            const ReadProgress progress{[&] { return p.Cancelled(); },
                                        [&](int done) { p.Step(done); }};
            return ReadModelDump(model, store, address, total, space, progress);
        });
    const QString name = QString::fromLatin1(SpaceName(space));
    if (read == ReadResult::Cancelled) {
        ui->bWriteDump->setEnabled(false);
        session_.SetStatus(QStringLiteral("Чтение(%1) прервано").arg(name));
        return;
    }
    if (read != ReadResult::Read) {
        ui->bWriteDump->setEnabled(false);
        session_.SetStatus(QStringLiteral("Ошибка чтения %1").arg(name));
        return;
    }
    OutputDump();
    ui->bWriteDump->setEnabled(true);
    session_.SetStatus(QStringLiteral("Чтение(%1) прошло успешно.").arg(name));
}

// The block goes back whole into the space it was read from. Unlike a plain write without
// answer, the outcome is shown, so that a refused write is not taken for a done one.
void TabDump::bWriteDumpClick() {
    if (session_.Store().IsDemo()) {
        session_.SetStatus(QString::fromUtf8(kDemoWrite));
        return;
    }
    // A block read from another controller (the model forgot it since) is never written here.
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const MemoryBlock& block = model.Dump().working;
    const QString name = QString::fromLatin1(SpaceName(block.space));
    const WriteResult result = session_.LongExchange(
        QStringLiteral("Запись памяти"), static_cast<int>(block.bytes.size()), Cancel::NotAllowed,
        [&](ExchangeProgress&) { return WriteModelDump(model, store); });
    session_.SetStatus(result == WriteResult::Written
                           ? QStringLiteral("Запись(%1) прошла успешно.").arg(name)
                           : QStringLiteral("Ошибка записи %1").arg(name));
}

// ---- The grid ---------------------------------------------------------------------------------

MemoryBlock& TabDump::Block() {
    return session_.Model().Dump().working;
}

void TabDump::Take(uint32_t address, uint8_t space, std::vector<uint8_t> bytes) {
    session_.Model().Dump().Take(MemoryBlock{address, space, std::move(bytes)});
}

void TabDump::PageShown() {
    if (shownGeneration_ == session_.Model().Generation()) return;
    OutputDump();
    ui->bWriteDump->setEnabled(false);
}

void TabDump::OutputDump() {
    shownGeneration_ = session_.Model().Generation();
    editable_ = false;
    QTableWidget* grid = ui->sg1;
    const QSignalBlocker block(grid);
    grid->clearContents();
    const int rows = DumpRows(static_cast<uint32_t>(Block().bytes.size()));
    grid->setRowCount(rows);
    SizeColumns();
    for (int r = 0; r < rows; ++r) {
        const int first = r * kDumpBytesPerRow;
        const int n = std::min(kDumpBytesPerRow, static_cast<int>(Block().bytes.size()) - first);
        grid->setItem(r, 0,
                      new QTableWidgetItem(QString::fromStdString(
                          DumpRowAddress(Block().address + static_cast<uint32_t>(first)))));
        QString text;
        for (int k = 0; k < n; ++k) {
            const uint8_t b = Block().bytes[static_cast<size_t>(first + k)];
            grid->setItem(r, DumpDigitColumn(k, true),
                          new QTableWidgetItem(QString(QLatin1Char(DumpHighDigit(b)))));
            grid->setItem(r, DumpDigitColumn(k, false),
                          new QTableWidgetItem(QString(QLatin1Char(DumpLowDigit(b)))));
            text += TextOf(b);
        }
        grid->setItem(r, kDumpTextColumn, new QTableWidgetItem(text));
    }
    if (rows > 0) {
        grid->setCurrentCell(0, 1);
        editable_ = !CellText(grid, 0, 1).isEmpty();
    }
    // The first row is the current one.
    ui->lGridPointer->setText(QStringLiteral("0%"));
}

void TabDump::SizeColumns() {
    QTableWidget* grid = ui->sg1;
    // A digit stays legible in a narrow window: the grid then scrolls sideways instead.
    const int legible = grid->fontMetrics().horizontalAdvance(QLatin1Char('0')) + 6;
    const int each =
        std::max((grid->viewport()->width() - kAddressWidth - kTextWidth) / 48, legible - 2);
    grid->setColumnWidth(0, kAddressWidth);
    grid->setColumnWidth(kDumpTextColumn, kTextWidth);
    int hexWidth = 0;
    for (int c = 1; c < kDumpTextColumn; ++c) {
        DumpDigit d;
        const int w = std::max(2, DumpDigitAt(c, d) ? each + 2 : each - 6);
        grid->setColumnWidth(c, w);
        hexWidth += w + (grid->showGrid() ? 1 : 0);
    }
    ui->sg2->setColumnWidth(0, kAddressWidth);
    ui->sg2->setColumnWidth(1, hexWidth);
    ui->sg2->setColumnWidth(2, kTextWidth);
}

void TabDump::sg1SelectCell(int row, int column, int previousRow, int previousColumn) {
    QTableWidget* grid = ui->sg1;
    if (row < 0) return;
    // The last separator and the text column cannot be selected.
    if (column >= kDumpLastSeparator) {
        const QSignalBlocker block(grid);
        grid->setCurrentCell(previousRow, previousColumn);
        return;
    }
    editable_ = !CellText(grid, row, column).isEmpty();
    const int rows = grid->rowCount();
    ui->lGridPointer->setText(rows < 2
                                  ? QStringLiteral("100%")
                                  : QString::number(row * 100 / (rows - 1)) + QLatin1Char('%'));
}

bool TabDump::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->sg1->viewport() && event->type() == QEvent::Resize) SizeColumns();
    if (watched == ui->sg1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (editable_) UpdateByte(ui->sg1->currentRow(), ui->sg1->currentColumn());
            return true;
        }
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            sg1KeyPress(text.at(0));
            return true;
        }
    }
    return Page::eventFilter(watched, event);
}

void TabDump::sg1KeyPress(QChar typed) {
    const int row = ui->sg1->currentRow();
    const int column = ui->sg1->currentColumn();
    DumpDigit digit;
    if (!editable_ || row < 0 || !DumpDigitAt(column, digit)) return;
    if (!kHexDigits.contains(typed)) return;
    ui->sg1->item(row, column)->setText(QString(typed.toUpper()));
    UpdateByte(row, column);
}

// The byte from its two digit cells into the buffer and the text column.
void TabDump::UpdateByte(int row, int column) {
    DumpDigit digit;
    if (row < 0 || !DumpDigitAt(column, digit)) return;
    const QString pair =
        digit.high ? CellText(ui->sg1, row, column) + CellText(ui->sg1, row, digit.partnerColumn)
                   : CellText(ui->sg1, row, digit.partnerColumn) + CellText(ui->sg1, row, column);
    uint32_t value = 0;
    if (pair.size() != 2 || !ParseDumpHex(pair.toStdString(), value)) return;
    const size_t index = static_cast<size_t>(row * kDumpBytesPerRow + digit.byte);
    if (index >= Block().bytes.size()) return;
    Block().bytes[index] = static_cast<uint8_t>(value);
    QTableWidgetItem* text = ui->sg1->item(row, kDumpTextColumn);
    QString line = text->text();
    if (digit.byte < line.size()) line[digit.byte] = TextOf(Block().bytes[index]).at(0);
    text->setText(line);
}

} // namespace velmar::ui
