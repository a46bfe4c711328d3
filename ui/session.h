// The session of the main window: the controller in use, the open port, the session flags every
// page reads, and the record store (live controller or demo image). One instance, shared by the
// main window, its pages and the dialogs.
#pragma once

#include "data/record_store.h"
#include "link/serial_port.h"
#include "ui/exchange_runner.h"
#include "ui/field_marks.h"
#include "ui/port_config.h"
#include "ui/prompts.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmar {
class DemoRecordStore;
}

namespace velmar::ui {

enum class Reident { ImageOrDialog = 0, SideAddress = 1, WriteFailedOrSpeed = 2 };

class Session : public QObject {
    Q_OBJECT
  public:
    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // Controller and port.
    int ctrlrAddress = 0;
    PortSlot portSlot = 0;
    bool demoMode = false;
    bool ctrlrIdentified = false;
    bool ctrlrParamsRead = false;
    bool portClosed = true;
    bool noCtrlrNumber = true;
    std::array<bool, 3> reidentRequested{};
    bool portSettingsChanged = false;
    bool closeOnShow = false;
    bool imageTransferIdle = true;
    // --service: pages and buttons hidden from everyday use are shown to the engineer.
    bool serviceMode = false;

    // Port parameters (from com.ini, the port dialog or the command line).
    std::string portName = "COM1";
    uint32_t baud = 4800;
    uint8_t dataBits = 8;
    uint8_t stopBits = 1;
    char parity = 'N';

    // The entry checks' shared state: whether a field was typed in, how many controls are red.
    FieldEntryState fieldEntry;

    // Interval of the controller-search timer tmFindTrk in ms ("-tfind").
    int findIntervalMs = 300;
    // Port names offered by the port dialog besides the discovered ones (--port, --simulate).
    std::vector<std::string> extraPortNames;
    // Where the port settings and the demo image are read from and written to (the working
    // directory, or the user's folders when the tool is installed; see file_places.h).
    std::string comIniPath = "com.ini";
    std::string demoImagePath = "demo_trk.bin";

    // Takes the port name and line parameters of a com.ini line.
    void UsePortSettings(const ComIniEntry& entry);
    // The port layer's start and stop, and the port names found, through the exchange thread
    // (the one thread of the window that touches the port table).
    void StartPorts();
    void StopPorts();
    std::vector<std::string> DiscoverPorts();
    // Opens the session's port by name and configures it with the session's line parameters.
    // Returns OpenPort's code (0 = open, `portSlot` set); on failure `portSlot` is 0. A port
    // that opened but refused the line parameters stays open and is reported with a message
    // box. Does not touch portClosed: start-up and the port dialog set it with their own texts.
    int OpenSessionPort(QWidget* parent = nullptr);
    // The message for a port that refused the line parameters (ConfigurePort's `code`).
    QString ConfigureFailureText(int code) const;
    // Closes the session's port (if any) and sets portSlot to 0.
    void CloseSessionPort();
    // Sets portClosed and tells the window (the caption of the port menu follows it).
    void SetPortClosed(bool closed);

    // Every modal box and file dialog goes through these; tests replace them.
    Prompts& Ask() { return *prompts_; }
    void SetPrompts(std::unique_ptr<Prompts> prompts);

    // Every controller exchange of the window goes through these (see exchange_runner.h).
    template <class F> int Exchange(F&& work) {
        return runner_->Run([&]() -> int { return static_cast<int>(work()); });
    }
    template <class F> int LongExchange(const QString& what, int total, Cancel cancel, F&& work) {
        return runner_->RunLong(what, total, cancel, [&](ExchangeProgress& p) -> int {
            return static_cast<int>(work(p));
        });
    }
    ExchangeRunner& Runner() { return *runner_; }
    // True while an exchange runs: a timer firing meanwhile waits for its next tick.
    bool ExchangeBusy() const { return runner_->Busy(); }
    void SetRunner(std::unique_ptr<ExchangeRunner> runner);

    // Demo image "demo_trk.bin" at demoImagePath: 1 loaded (or already loaded), -1 the file
    // cannot be opened, -2 it is empty or too long. While loaded, Store() serves it.
    int LoadDemoImage();
    void ReleaseDemoImage();

    // Records of the controller in use: the demo image in demo mode, else the live controller.
    RecordStore& Store();
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

  private:
    std::unique_ptr<RecordStore> store_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<ExchangeRunner> runner_;
    DemoRecordStore* demoStore_ = nullptr; // the store while it is the demo image
};

} // namespace velmar::ui
