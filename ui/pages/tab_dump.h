// The tab "Dump" (shown with --service): any block of controller memory in any of the three
// memory spaces as a hex-and-text dump; single hexadecimal digits are changed in place and the
// whole block is written back into the space it was read from.
#pragma once

#include "data/controller_model.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/page.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

class QLineEdit;

namespace Ui {
class TabDump;
}

namespace velmar::ui {

class TabDump : public Page {
    Q_OBJECT
  public:
    explicit TabDump(Session& session, QWidget* parent = nullptr);
    // A block read from a controller the window has since left is not shown.
    void PageShown() override;
    ~TabDump() override;

    void bReadDumpClick();
    void bWriteDumpClick();
    // Fills the dump grid from the buffer.
    void OutputDump();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FieldExit(QLineEdit* field);
    void sg1SelectCell(int row, int column, int previousRow, int previousColumn);
    // A digit typed into the selected cell: a hexadecimal digit replaces it and updates the
    // byte; anything else leaves the digit as it was.
    void sg1KeyPress(QChar typed);
    void UpdateByte(int row, int column);
    void SizeColumns();
    uint8_t SelectedSpace() const;
    static const char* SpaceName(uint8_t space);

    std::unique_ptr<Ui::TabDump> ui;
    // The two fields' own marks; they do not count toward the window's invalid fields.
    FieldEntryState marks_;
    // The block in the model, as the grid edits it.
    MemoryBlock& Block();
    // A block read from the controller in use replaces the one shown.
    void Take(uint32_t address, uint8_t space, std::vector<uint8_t> bytes);
    bool editable_ = false;
    uint64_t shownGeneration_ = 0; // the model's generation when the grid was filled
    std::minstd_rand demoBytes_{std::random_device{}()};
};

} // namespace velmar::ui
