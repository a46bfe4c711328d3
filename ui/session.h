// The session of the main window: the port and its line settings, the session state, the
// controller model (what is known of the controller in use, its number and whether it is
// identified), the record store that reaches it (live controller or demo image), the exchange
// runner and the prompts. One instance, shared by the main window, its pages and the dialogs,
// which change it only through what its methods say; the window's own state (the number query,
// the port dialog's repaint) lives in the window.
#pragma once

#include "data/controller_model.h"
#include "data/image_write_report.h"
#include "data/journal_store.h"
#include "data/params_write.h"
#include "data/record_store.h"
#include "link/port_result.h"
#include "link/serial_port.h"
#include "ui/exchange/exchange_runner.h"
#include "ui/fields/field_marks.h"
#include "ui/fields/prompts.h"
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
    // --service: pages and buttons hidden from everyday use are shown to the engineer.
    bool serviceMode = false;
};

// How a session operation that can fail ended.
enum class SessionCode {
    Done,
    PortNotOpened,  // no slot: `port` says why
    DemoCannotOpen, // the demo image (or the image file in use) cannot be read
    DemoBadLength,  // the demo image is empty, too short or too long
    ImageRefused,   // the file is no saved image
    JournalRefused, // the journal of changes cannot take the entries
};
struct SessionResult {
    SessionCode code = SessionCode::Done;
    PortResult port; // why the port failed, where it did
    QString text;    // why, in the words the engineer reads (empty where the caller words it)
    bool Ok() const { return code == SessionCode::Done; }
};

class Session : public QObject {
    Q_OBJECT
  public:
    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // ---- Port and line -------------------------------------------------------------------
    const LineSettings& Line() const { return line_; }
    // Takes the port name and line parameters of a com.ini line, or of the port dialog and
    // the command line.
    void UsePortSettings(const ComIniEntry& entry);
    void UsePortSettings(const LineSettings& line);
    // The open port's slot (0: none).
    PortSlot Slot() const { return portSlot_; }
    // No port is open as far as the window is concerned (the caption of the port menu).
    bool PortClosed() const { return portClosed_; }
    // Sets the port state and tells the window.
    void SetPortClosed(bool closed);
    // The controller number in use: the model's. A new number is another controller: the model
    // forgets everything it held.
    int Address() const { return model_.Identity().address; }
    void SetAddress(int address);
    // Writes the model's working parameter block with the settings tab's whole sequence (restart,
    // channels brought in line) and follows the controller: the port takes its new speed and the
    // session its new number. The caller words the outcome.
    ParamsWriteOutcome WriteParamsAndFollow(int newAddress, bool newSpeed);

    // The port layer's start and stop, and the port names found, through the exchange thread
    // (the one thread of the window that touches the port table).
    void StartPorts();
    void StopPorts();
    std::vector<std::string> DiscoverPorts();
    // Opens the session's port by name and configures it with the session's line parameters.
    // PortNotOpened with OpenPort's code when no slot was obtained (Slot() is 0). A port that
    // opened but refused the line parameters stays open and is reported with a message box.
    // Does not touch PortClosed(): start-up and the port dialog set it with their own texts.
    SessionResult OpenSessionPort(QWidget* parent = nullptr);
    // Closes the session's port (if any); Slot() is 0 after it.
    void CloseSessionPort();

    // ---- Start-up options and modes -------------------------------------------------------
    const SessionOptions& Options() const { return options_; }
    void Configure(SessionOptions options);
    // Demo mode: the demo image (or an image file) stands in for the controller. Chosen on the
    // command line, or by opening an image file; it lasts for the session.
    void EnterDemo();
    bool DemoMode() const { return demoMode_; }
    // The entry checks' shared state: whether a field was typed in, how many controls are red.
    FieldEntryState& FieldEntry() { return fieldEntry_; }

    // ---- The controller in use ----------------------------------------------------------
    ControllerModel& Model() { return model_; }
    const ControllerModel& Model() const { return model_; }
    // Identification succeeded, or the demo image was loaded.
    bool Identified() const { return model_.Identity().identified; }
    // An identification succeeded: the model starts afresh for this controller.
    void MarkIdentified(const std::string& identText);
    // Identification failed: nothing is known of the controller at this number.
    void MarkNotIdentified();
    // The controller may be another one (a new number, another port, identification starting):
    // the model forgets everything; only the demo image stays identified until it is loaded.
    void ForgetController();

    // Requests that the window identify again at its next repaint.
    void RequestReident(Reident which);
    bool ReidentRequested(Reident which) const;
    bool AnyReidentRequested() const;
    void ClearReident(Reident which);
    void ClearReidentRequests();

    // A whole image goes to or from the controller: the quick keys, the image menus and closing
    // wait for its end.
    bool ImageTransferIdle() const { return imageTransferIdle_; }
    void ImageTransferStarted() { imageTransferIdle_ = false; }
    void ImageTransferEnded() { imageTransferIdle_ = true; }

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
    // As Exchange, with progress and, where allowed, a cancel: answers what `work` answered (a
    // cancelled work says so in its own result).
    template <class F> auto LongExchange(const QString& what, int total, Cancel cancel, F&& work) {
        std::invoke_result_t<F&, ExchangeProgress&> result{};
        NoteOperation();
        runner_->RunLong(what, total, cancel, [&](ExchangeProgress& p) -> int {
            result = work(p);
            return 1;
        });
        NoteImageFileRefusal();
        ReportJournalRefusal();
        return result;
    }
    ExchangeRunner& Runner() { return *runner_; }
    // True while an exchange runs: a timer firing meanwhile waits for its next tick.
    bool ExchangeBusy() const { return runner_->Busy(); }
    void SetRunner(std::unique_ptr<ExchangeRunner> runner);

    // Identification in demo mode: the demo image "demo_trk.bin" at demoImagePath (or the image
    // file in use) is loaded and becomes the identified controller, and the window is told.
    // DemoCannotOpen or DemoBadLength with the reason when it cannot be loaded.
    SessionResult OpenDemoImage();
    void ReleaseDemoImage();

    // A saved image file becomes the controller of the session (demo mode's rules, no line);
    // ImageRefused with the reason, and then nothing changed.
    SessionResult OpenImage(const std::string& path);
    // The image file in use, or none.
    ImageFileStore* ImageFile() const { return imageStore_; }

    // Records of the controller in use: the demo image in demo mode, else the live controller,
    // whose writes are journaled.
    RecordStore& Store();
    void SetStore(std::unique_ptr<RecordStore> store);
    // ---- The journal of changes -----------------------------------------------------------
    // What the window is doing when it writes: the title of the dialog open, else the tab shown.
    void SetOperationSource(std::function<QString()> source) {
        operationSource_ = std::move(source);
    }
    // Before a write that does not go through Store() (a whole image): JournalRefused with the
    // reason when the journal cannot take its entries.
    SessionResult JournalReady();
    // For a write that does not go through Store() (a whole image): enters each record before
    // it is sent and its outcome after, with the old values of the copies read; null without
    // a journaled controller. A refusal or an outcome not entered is reported at the exchange's
    // end.
    WriteRecorder* Recorder();

    // ---- What the window shows ------------------------------------------------------------
    // The one-line status text of the main window (lIdentState).
    void SetStatus(const QString& text);
    // Paints the status line now, so that an emptied line is seen before the next text; no other
    // event is delivered meanwhile.
    void RepaintStatus();
    // The text of the controller-number label (lNumberCtrlr).
    void SetNumberLabel(const QString& text);
    // Asks the window to apply its repaint rules now (re-identification, port state).
    void RequestRepaint();
    // Asks the window to bring the main tab forward.
    void ShowMainTab();

  signals:
    void statusChanged(const QString& text);
    void statusRepaintRequested();
    void numberLabelChanged(const QString& text);
    // RequestRepaint: the main window applies its repaint rules now.
    void repaintRequested();
    // ShowMainTab: the main window brings the main tab forward.
    void showMainTabRequested();
    // portClosed changed.
    void portStateChanged(bool closed);
    // OpenDemoImage loaded the demo image: the port and log menus go away.
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
    // The model starts afresh at `address`: no identification text, no records.
    void Restart(int address, bool identified);
    // What the main tab shows for the demo image or the image file in use.
    std::string OfflineIdentText() const;
    // The message for a port that refused the line parameters (ConfigurePort's `code`).
    QString ConfigureFailureText(const PortResult& port) const;

    LineSettings line_;
    PortSlot portSlot_ = 0;
    bool portClosed_ = true;
    bool demoMode_ = false;
    std::array<bool, 3> reidentRequested_{};
    bool imageTransferIdle_ = true;
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
