// What the two channel tabs ("Сост канала", "Настройки канала") share: the channel list built
// from the topology of the parameter block, reading the first channel when the tab is shown, the
// question about unsaved edits when another channel is chosen, and the save button's failure
// handling. Each tab supplies the reading, saving and comparing of its own record.
#pragma once

#include "ui/pages/page.h"

#include <cstdint>
#include <functional>

class QComboBox;
class QPushButton;

namespace velmar {
enum class ReadResult;
enum class WriteResult;
} // namespace velmar

namespace velmar::ui {

// How a channel tab's read or save ended. A failure has been reported to the engineer already;
// a save that found nothing to write is Done.
enum class ChannelResult { Done, Failed };

class ChannelPage : public Page {
    Q_OBJECT
  public:
    ChannelPage(Session& session, QWidget* parent);

    // The tab's show handler.
    void PageShown() override;
    // The channel whose record the working copy holds; -1 before the first successful read and
    // once the model forgot the controller it was read from.
    int ChannelShown() const;

  protected:
    // Connects the channel list and the read and save buttons.
    void Wire(QComboBox* list, QPushButton* read, QPushButton* save);

    // Reads channel n into both copies and shows it.
    virtual ChannelResult ReadChannel(int n) = 0;
    // Writes the working copy of channel n (Done also when there was nothing to write).
    virtual ChannelResult SaveChannel(int n) = 0;
    // The working copy differs from the ShadowCopy.
    virtual bool Unsaved() const = 0;
    // Runs after every press of the save button, whatever the outcome, and after a save the
    // question on choosing another channel asked for.
    virtual void AfterSave() {}

    // Reads channel n's record with `read` (a model read sequence): false for a channel that does
    // not exist or a failed read, reported with `failed`.
    bool ReadRecord(int n, const std::function<ReadResult()>& read, const char* failed);
    // Runs `write` up to `attempts` times (once on the demo image) until it writes or finds
    // nothing to write, and reports the outcome.
    ChannelResult WriteRecord(int attempts, const std::function<WriteResult()>& write,
                              const char* written);

    // A read of channel n succeeded: n is the channel the copies belong to.
    void SetChannelShown(int n);
    // "Ошибка номера канала" for a channel that does not exist; true when n is one.
    bool CheckChannelNumber(int n);
    void ShowMessage(const char* text);
    // The status line is emptied first, so that a repeated text visibly changes.
    void SetStatusText(const char* text);
    // The message box and the same text in the status line.
    void Report(const char* text);

  private:
    void ChannelChosen(int item);
    void ReadClick();
    void SaveClick();
    void ReadAndEnable(int n);

    QComboBox* list_ = nullptr;
    QPushButton* save_ = nullptr;
    int channelShown_ = -1;
    uint64_t shownGeneration_ = 0; // the model's generation when channelShown_ was read
};

} // namespace velmar::ui
