// "Журнал изменений": the journal of changes as a table, chosen by controller, period and field,
// with the fields that decide how a volume is measured marked, and saved as CSV.
#pragma once

#include "data/journal.h"

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

namespace velmar::ui {

class Session;

class TJournalView : public QDialog {
    Q_OBJECT
  public:
    TJournalView(Session& session, const std::string& journalPath, QWidget* parent = nullptr);

    // Lists the entries the filters choose; false with the reason shown in the dialog when the
    // journal cannot be read.
    bool Refresh();
    // The listed entries as CSV (UTF-8 with a byte order mark, ';' between fields).
    QByteArray Csv() const;
    const std::vector<JournalEntry>& Listed() const { return entries_; }

  private:
    void ExportCsv();
    void FitColumns();

    Session& session_;
    std::string path_;
    QSpinBox* ctrlr_;
    QCheckBox* usePeriod_;
    QDateEdit* since_;
    QDateEdit* until_;
    QLineEdit* field_;
    QTableWidget* table_;
    QLabel* summary_;
    std::vector<JournalEntry> entries_;
};

} // namespace velmar::ui
