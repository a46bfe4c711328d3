// "Сравнить с образом…": the controller on the line against a saved image file, one row per
// differing field. For the record of the chosen row the engineer writes the file's version into
// the controller (through the tabs' write sequences) or saves the controller's version into the
// file (atomically).
#pragma once

#include "data/image_diff.h"
#include "data/params_write.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TImageCompare;
}

namespace velmar::ui {

class Session;

class TImageCompare : public QDialog {
    Q_OBJECT
  public:
    explicit TImageCompare(Session& session, QWidget* parent = nullptr);
    ~TImageCompare() override;

    // Shows the differences between `file` (read from `path`) and `controller`.
    void Compare(const QString& path, std::vector<uint8_t> file, std::vector<uint8_t> controller);
    const std::vector<ImageDifference>& Differences() const { return diffs_; }

    void bFileToCtrlrClick();
    void bCtrlrToFileClick();

  private:
    void Refill();
    std::optional<WriteResult> WriteParams();
    // The difference of the chosen row, or none.
    const ImageDifference* Chosen() const;

    Session& session_;
    std::unique_ptr<Ui::TImageCompare> ui_;
    QString path_;
    std::vector<uint8_t> file_;
    std::vector<uint8_t> controller_;
    std::vector<ImageDifference> diffs_;
};

} // namespace velmar::ui
