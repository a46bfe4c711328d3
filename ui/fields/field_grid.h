// Small editing widgets for the topology controls: a one-row grid of numbers and the digit-only
// key filter shared with the side-address fields. Both notify when the focus leaves them, which
// is when their contents are checked.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTableWidget>

class QLineEdit;

namespace velmar::ui {

// Lets through only the digits 0..9, Enter and Backspace (and navigation keys); every other
// character is discarded. Install on a QLineEdit or a grid's cell editor.
class DigitKeyFilter : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Emits left() when the focus moves from `widget` (or anything inside it) to a widget outside
// it; focus passing between a control and its own cell editor is not leaving.
class LeaveWatcher : public QObject {
    Q_OBJECT
  public:
    explicit LeaveWatcher(QWidget* widget);

  signals:
    void left();

  private:
    QWidget* widget_;
};

// One editable row of small numbers, one column per nozzle. With the header row shown, the
// header holds the column numbers 0, 1, ... (the physical positions). Typing digits edits the
// current cell; Enter moves to the next column (from the last back to column 0); Esc leaves the
// cell editor; Tab leaves the grid.
class FieldGrid : public QTableWidget {
    Q_OBJECT
  public:
    static constexpr int kColumnWidth = 22;

    explicit FieldGrid(QWidget* parent = nullptr);

    void SetHeaderRow(bool shown);
    // Column count n; the grid becomes n * 23 + 1 pixels wide so exactly its cells show.
    void SetColumns(int n);
    QString Cell(int column) const;
    void SetCell(int column, const QString& text);
    QStringList Cells() const;
    // Closes an open cell editor, keeping what was typed.
    void CommitEdit();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  signals:
    // The focus left the grid (and its cell editor).
    void left();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    friend class GridCellDelegate;
    void MoveToNextColumn();
    void LeaveByTab(bool forward);
    int RowHeight() const;
};

} // namespace velmar::ui
