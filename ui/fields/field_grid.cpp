#include "ui/fields/field_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

namespace velmar::ui {

namespace {

bool IsEnter(const QKeyEvent* e) {
    return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
}

// A key that types a character other than a digit. Control characters (Enter, Backspace, Esc,
// Tab, Ctrl+letter) and keys without text (arrows, Home, Delete) are not typing.
bool TypesNonDigit(const QKeyEvent* e) {
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = e->text();
    if (text.isEmpty()) return false;
    for (const QChar c : text)
        if (c.isPrint() && !(c >= QLatin1Char('0') && c <= QLatin1Char('9'))) return true;
    return false;
}

bool IsInside(const QWidget* w, const QWidget* container) {
    for (; w != nullptr; w = w->parentWidget())
        if (w == container) return true;
    return false;
}

} // namespace

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && TypesNonDigit(static_cast<QKeyEvent*>(event)))
        return true;
    return QObject::eventFilter(watched, event);
}

LeaveWatcher::LeaveWatcher(QWidget* widget) : QObject(widget), widget_(widget) {
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        // No new focus widget: the window was deactivated, the control was not left.
        if (now == nullptr || old == nullptr) return;
        if (IsInside(old, widget_) && !IsInside(now, widget_)) emit left();
    });
}

// The cell editor: at most three digits; Enter stores the cell and moves to the next column.
class GridCellDelegate : public QStyledItemDelegate {
  public:
    explicit GridCellDelegate(FieldGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* edit = new QLineEdit(parent);
        edit->setMaxLength(3);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        return edit;
    }

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (TypesNonDigit(key)) return true;
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
                // Tab leaves the grid, as it does when no cell is being edited.
                auto* editor = qobject_cast<QWidget*>(object);
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
                grid_->LeaveByTab(key->key() == Qt::Key_Tab);
                return true;
            }
            if (IsEnter(key)) {
                auto* editor = qobject_cast<QWidget*>(object);
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
                grid_->MoveToNextColumn();
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

  private:
    FieldGrid* grid_;
};

FieldGrid::FieldGrid(QWidget* parent) : QTableWidget(1, 0, parent) {
    setItemDelegate(new GridCellDelegate(this));
    // No editing on a click into the selected cell: Qt would then wait for a possible double
    // click and drop the digits typed meanwhile.
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(RowHeight());
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setMinimumSectionSize(kColumnWidth + 1);
    horizontalHeader()->setDefaultSectionSize(kColumnWidth + 1);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setFixedHeight(RowHeight());
    // The header row holds fixed numbers: grey like a button face, unlike the editable cells.
    horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section { background-color: palette(button); padding: 0px; border: 0px; "
        "border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid); }"));
    horizontalHeader()->hide();
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* watcher = new LeaveWatcher(this);
    connect(watcher, &LeaveWatcher::left, this, &FieldGrid::left);
}

int FieldGrid::RowHeight() const {
    return fontMetrics().height() + 6;
}

void FieldGrid::SetHeaderRow(bool shown) {
    horizontalHeader()->setVisible(shown);
    updateGeometry();
    setFixedSize(sizeHint());
}

void FieldGrid::SetColumns(int n) {
    CommitEdit();
    setColumnCount(n);
    QStringList labels;
    for (int c = 0; c < n; ++c) {
        labels << QString::number(c);
        if (item(0, c) == nullptr) {
            auto* cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            setItem(0, c, cell);
        }
    }
    setHorizontalHeaderLabels(labels);
    setFixedSize(sizeHint());
}

QSize FieldGrid::sizeHint() const {
    // Each section holds a 22-pixel cell and its one-pixel grid line.
    const int frame = 2 * frameWidth();
    const int header = horizontalHeader()->isVisible() ? horizontalHeader()->height() : 0;
    return {columnCount() * (kColumnWidth + 1) + frame, header + RowHeight() + frame};
}

QString FieldGrid::Cell(int column) const {
    const QTableWidgetItem* cell = item(0, column);
    return cell != nullptr ? cell->text() : QString();
}

void FieldGrid::SetCell(int column, const QString& text) {
    if (column < 0 || column >= columnCount()) return;
    QTableWidgetItem* cell = item(0, column);
    if (cell == nullptr) {
        cell = new QTableWidgetItem;
        cell->setTextAlignment(Qt::AlignCenter);
        setItem(0, column, cell);
    }
    cell->setText(text);
}

QStringList FieldGrid::Cells() const {
    QStringList texts;
    for (int c = 0; c < columnCount(); ++c) texts << Cell(c);
    return texts;
}

void FieldGrid::CommitEdit() {
    if (state() != QAbstractItemView::EditingState) return;
    for (QLineEdit* editor : viewport()->findChildren<QLineEdit*>()) {
        if (!editor->isVisible()) continue;
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void FieldGrid::MoveToNextColumn() {
    if (columnCount() == 0) return;
    const int next = (currentColumn() + 1) % columnCount();
    setCurrentCell(0, next);
}

void FieldGrid::LeaveByTab(bool forward) {
    QTableWidget::focusNextPrevChild(forward);
}

void FieldGrid::focusInEvent(QFocusEvent* event) {
    // Typing goes to the first cell when none was chosen yet.
    if (event->reason() != Qt::MouseFocusReason && !currentIndex().isValid() && columnCount() > 0)
        setCurrentCell(0, 0);
    QTableWidget::focusInEvent(event);
}

void FieldGrid::keyPressEvent(QKeyEvent* event) {
    if (TypesNonDigit(event)) return; // discarded, as in the cell editor
    if (IsEnter(event) && state() != QAbstractItemView::EditingState) {
        MoveToNextColumn();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

} // namespace velmar::ui
