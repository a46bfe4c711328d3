// The session of the main window: the controller in use, the open port, the session flags every
// page reads, and the record store (live controller or demo image). One instance, shared by the
// main window, its pages and the dialogs.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "data/record_store.h"
#include "link/serial_port.h"

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

    // Port parameters (from com.ini, the port dialog or the command line).
    std::string portName = "COM1";
    uint32_t baud = 4800;
    uint8_t dataBits = 8;
    uint8_t stopBits = 1;
    char parity = 'N';

    // Records of the controller in use: the demo image in demo mode, else the live controller.
    RecordStore& Store();
    void SetStore(std::unique_ptr<RecordStore> store);

    void RequestReident(Reident which);
    bool AnyReidentRequested() const;

    // The one-line status text of the main window (lIdentState).
    void SetStatus(const QString& text);
    // The text of the controller-number label (lNumberCtrlr).
    void SetNumberLabel(const QString& text);

signals:
    void statusChanged(const QString& text);
    void numberLabelChanged(const QString& text);
    // A page asks the main window to apply its repaint rules now (re-identification, port state).
    void repaintRequested();
    // A page asks the main window to bring the main tab forward.
    void showMainTabRequested();

private:
    std::unique_ptr<RecordStore> store_;
};

} // namespace velmar::ui
