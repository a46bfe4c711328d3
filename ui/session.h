// The session of the main window: the port and its line settings, the session flags, the
// controller model (what is known of the controller in use), the record store that reaches it
// (live controller or demo image), the exchange runner and the prompts. One instance, shared by
// the main window, its pages and the dialogs.
#pragma once

#include "data/controller_model.h"
#include "data/image_write_report.h"
#include "data/journal_store.h"
#include "data/params_write.h"
#include "data/record_store.h"
#include "link/serial_port.h"
#include "ui/dialogs/prompts.h"
#include "ui/exchange/exchange_runner.h"
#include "ui/fields/field_marks.h"
#include "ui/port_config.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace velmar {
class DemoRecordStore;
class ImageFileStore;
class LiveRecordStore;
} // namespace velmar

namespace velmar::ui {

enum class Reident { ImageOrDialog = 0, SideAddress = 1, WriteFailedOrSpeed = 2 };

// The port name and line parameters (from com.ini, the port dialog or the command line).
struct LineSettings {
    std::string portName = "COM1";
    uint32_t baud = 4800;
    uint8_t dataBits = 8;
    uint8_t stopBits = 1;
    char parity = 'N';
};

// The window's session flags.
struct SessionModes {
    bool demoMode = false;
    bool ctrlrIdentified = false;
    bool portClosed = true;
    bool noCtrlrNumber = true;
    std::array<bool, 3> reidentRequested{};
    bool portSettingsChanged = false;
    bool closeOnShow = false;
    bool imageTransferIdle = true;
    // --service: pages and buttons hidden from everyday use are shown to the engineer.
    bool serviceMode = false;
};

// What the command line and the installation decide once at start-up.
struct SessionOptions {
    // Interval of the controller-search timer tmFindTrk in ms ("-tfind").
    int findIntervalMs = 300;
    // Port names offered by the port dialog besides the discovered ones (--port, --simulate).
    std::vector<std::string> extraPortNames;
    // Where the port settings and the demo image are read from and written to (the working
    // directory, or the user's folders when the tool is installed; see file_places.h).
    std::string comIniPath = "com.ini";
    std::string demoImagePath = "demo_trk.bin";
    // The journal every write to a controller is entered in (--journal, else file_places.h).
    std::string journalPath = "velmar-journal.sqlite";
};

class Session : public QObject {
    Q_OBJECT
  public:
    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // ---- Port and line -------------------------------------------------------------------
    const LineSettings& Line() const { return line_; }
    LineSettings& Line() { return line_; }
    // The open port's slot (0: none).
    PortSlot Slot() const { return portSlot_; }
    // The controller number in use. A new number is another controller: the model forgets
    // everything it held.
    int Address() const { return address_; }
    void SetAddress(int address);
    // Writes the model's working parameter block with the settings tab's whole sequence (restart,
    // channels brought in line) and follows the controller: the port takes its new speed and the
    // session its new number. The caller words the outcome.
    ParamsWriteOutcome WriteParamsAndFollow(int newAddress, bool newSpeed);

    // ---- Modes and start-up options -----------------------------------------------------
    SessionModes& Modes() { return modes_; }
    const SessionModes& Modes() const { return modes_; }
    SessionOptions& Options() { return options_; }
    const SessionOptions& Options() const { return options_; }
    // The entry checks' shared state: whether a field was typed in, how many controls are red.
    FieldEntryState& FieldEntry() { return fieldEntry_; }

    // ---- The controller in use ----------------------------------------------------------
    ControllerModel& Model() { return model_; }
    const ControllerModel& Model() const { return model_; }
    // An identification succeeded: the model starts afresh for this controller.
    void Identified(const std::string& identText);
    // Identification failed or the controller is gone: nothing is known of any controller.
    void ForgetController();

    // Takes the port name and line parameters of a com.ini line.
    void UsePortSettings(const ComIniEntry& entry);
    // The port layer's start and stop, and the port names found, through the exchange thread
    // (the one thread of the window that touches the port table).
    void StartPorts();
    void StopPorts();
    std::vector<std::string> DiscoverPorts();
    // Opens the session's port by name and configures it with the session's line parameters.
    // Returns OpenPort's code (0 = open, Slot() set); on failure Slot() is 0. A port
    // that opened but refused the line parameters stays open and is reported with a message
    // box. Does not touch portClosed: start-up and the port dialog set it with their own texts.
    int OpenSessionPort(QWidget* parent = nullptr);
    // The message for a port that refused the line parameters (ConfigurePort's `code`).
    QString ConfigureFailureText(int code) const;
    // Closes the session's port (if any); Slot() is 0 after it.
    void CloseSessionPort();
    // Sets portClosed and tells the window (the caption of the port menu follows it).
    void SetPortClosed(bool closed);

    // Every modal box and file dialog goes through these; tests replace them.
    Prompts& Ask() { return *prompts_; }
    void SetPrompts(std::unique_ptr<Prompts> prompts);

    // Every controller exchange of the window goes through these (see exchange_runner.h).
    template <class F> int Exchange(F&& work) {
        NoteOperation();
        const int result = runner_->Run([&]() -> int { return static_cast<int>(work()); });
        NoteImageFileRefusal();
        ReportJournalRefusal();
        return result;
    }
    // As Exchange, for work whose result is not a number (an outcome struct, an enum).
    template <class F> auto ExchangeFor(F&& work) {
        std::invoke_result_t<F&> result{};
        NoteOperation();
        runner_->Run([&]() -> int {
            result = work();
            return 1;
        });
        NoteImageFileRefusal();
        ReportJournalRefusal();
        return result;
    }
    template <class F> int LongExchange(const QString& what, int total, Cancel cancel, F&& work) {
        NoteOperation();
        const int result = runner_->RunLong(what, total, cancel, [&](ExchangeProgress& p) -> int {
            return static_cast<int>(work(p));
        });
        NoteImageFileRefusal();
        ReportJournalRefusal();
        return result;
    }
    ExchangeRunner& Runner() { return *runner_; }
    // True while an exchange runs: a timer firing meanwhile waits for its next tick.
    bool ExchangeBusy() const { return runner_->Busy(); }
    void SetRunner(std::unique_ptr<ExchangeRunner> runner);

    // Demo image "demo_trk.bin" at demoImagePath: 1 loaded (or already loaded), -1 the file
    // cannot be opened, -2 it is empty or too long. While loaded, Store() serves it.
    int LoadDemoImage();
    void ReleaseDemoImage();

    // A saved image file becomes the controller of the session (demo mode's rules, no line):
    // 1, or the OpenImageFile failure with `error` saying why; then nothing changed.
    int OpenImage(const std::string& path, std::string* error = nullptr);
    // The image file in use, or none.
    ImageFileStore* ImageFile() const { return imageStore_; }
    // What the main tab shows for the demo image or the image file in use.
    std::string OfflineIdentText() const;

    // Records of the controller in use: the demo image in demo mode, else the live controller,
    // whose writes are journaled.
    RecordStore& Store();
    // ---- The journal of changes -----------------------------------------------------------
    // What the window is doing when it writes: the title of the dialog open, else the tab shown.
    void SetOperationSource(std::function<QString()> source) {
        operationSource_ = std::move(source);
    }
    // Before a write that does not go through Store() (a whole image): true when the journal
    // can take its entries, else false with the reason.
    bool JournalReady(QString& error);
    // Commits the entries of a whole-image write; false with the reason.
    bool JournalImageLoad(const std::vector<uint8_t>& image, const ImageWriteReport& report,
                          const SizesRecord& sizes, QString& error);
    // Why the journal refused the last write, or empty.
    QString JournalError() const;
    void SetStore(std::unique_ptr<RecordStore> store);

    void RequestReident(Reident which);
    bool AnyReidentRequested() const;

    // The one-line status text of the main window (lIdentState).
    void SetStatus(const QString& text);
    // Paints the status line now, so that an emptied line is seen before the next text; no other
    // event is delivered meanwhile.
    void RepaintStatus();
    // The text of the controller-number label (lNumberCtrlr).
    void SetNumberLabel(const QString& text);

  signals:
    void statusChanged(const QString& text);
    void statusRepaintRequested();
    void numberLabelChanged(const QString& text);
    // A page asks the main window to apply its repaint rules now (re-identification, port state).
    void repaintRequested();
    // A page asks the main window to bring the main tab forward.
    void showMainTabRequested();
    // portClosed changed.
    void portStateChanged(bool closed);
    // The demo image was loaded by identification: the port and log menus go away.
    void demoImageLoaded();
    // Units done by the long exchange under way.
    void exchangeProgressed(int done);
    // A write into the image file in use was refused: another program changed or replaced the
    // file since the window read it. Sent once the handler that wrote has returned.
    void imageFileChanged(const QString& reason);

  private:
    // After every exchange: a write the image file refused as stale is announced.
    void NoteImageFileRefusal();
    // Takes who writes what into the journal's context, on the window thread, before each
    // exchange.
    void NoteOperation();
    // A write the journal refused: the engineer is told why, besides the page's own words.
    void ReportJournalRefusal();
    void SetSlot(PortSlot slot);
    void Retarget();

    LineSettings line_;
    PortSlot portSlot_ = 0;
    int address_ = 0;
    SessionModes modes_;
    SessionOptions options_;
    FieldEntryState fieldEntry_;
    ControllerModel model_;
    LiveRecordStore* liveStore_ = nullptr; // the store while it is the controller on the line
    std::unique_ptr<RecordStore> store_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<ExchangeRunner> runner_;
    DemoRecordStore* demoStore_ = nullptr;       // the store while it is the demo image
    ImageFileStore* imageStore_ = nullptr;       // the store while it is an image file
    std::unique_ptr<JournalStore> journalStore_; // in front of liveStore_
    std::function<QString()> operationSource_;
    uint64_t journalGeneration_ = 0; // the model's generation the journal's copies belong to
};

} // namespace velmar::ui
