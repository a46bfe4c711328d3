#include "ui/dialogs/com_setting.h"

#include "link/tcp_link.h"
#include "ui/fields/accessible_names.h"
#include "ui/port_config.h"
#include "ui/session.h"
#include "ui_com_setting.h"

#include <algorithm>

namespace velmar::ui {

namespace {

// Selects the item whose text satisfies `match`; else `fallback`. Returns whether it matched.
template <class Match> bool SelectItem(QComboBox* box, Match match, const QString& fallback) {
    for (int i = 0; i < box->count(); ++i)
        if (match(box->itemText(i))) {
            box->setCurrentIndex(i);
            return true;
        }
    box->setCurrentIndex(std::max(0, box->findText(fallback)));
    return false;
}

} // namespace

TComSetting::TComSetting(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), ui_(std::make_unique<Ui::TComSetting>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    NameInputControls(this);
    // A serial device server on the network is not discovered: its name (tcp:HOST:PORT or
    // rfc2217:HOST:PORT) is typed.
    ui_->cbComNumber->setEditable(true);
    ui_->cbComNumber->setInsertPolicy(QComboBox::NoInsert);
    // Qt's inline completion would turn a typed port name that starts a listed one into that one.
    ui_->cbComNumber->setCompleter(nullptr);
    connect(ui_->SaveParam, &QPushButton::clicked, this, &TComSetting::SaveParamClick);
    connect(this, &QDialog::finished, this, &TComSetting::FormClose);
}

TComSetting::~TComSetting() = default;

void TComSetting::setVisible(bool visible) {
    if (visible && !isVisible()) FormShow();
    QDialog::setVisible(visible);
}

void TComSetting::FormShow() {
    session_.SetPortClosed(true);
    ComIniEntry entry;
    if (ReadComIni(session_.Options().comIniPath, entry)) {
        reserved2_ = entry.reserved2;
        flagA_ = entry.flagA;
        flagB_ = entry.flagB;
    } else {
        session_.Ask().Message(
            this, QStringLiteral("Не найден ини файл. Восстановлены параметры по умолчании"));
    }
    // The lists start from the port and line parameters in use, not from the file: a port given
    // on the command line is not in com.ini, and "Установить" pressed only to change the speed
    // must not switch to another port. At a start from com.ini the two are the same.
    // A parameter the lists do not offer falls back to its default, in the session too.
    LineSettings line = session_.Line();
    std::vector<std::string> names = session_.DiscoverPorts();
    for (const std::string& extra : session_.Options().extraPortNames)
        if (std::find(names.begin(), names.end(), extra) == names.end()) names.push_back(extra);
    if (IsNetworkPortName(line.portName.c_str())) names.push_back(line.portName);
    ui_->cbComNumber->clear();
    for (const std::string& name : names)
        if (name != "UKEY") ui_->cbComNumber->addItem(QString::fromStdString(name));
    const QString current = QString::fromStdString(line.portName);
    const int portIndex = ui_->cbComNumber->findText(current);
    if (portIndex >= 0) {
        ui_->cbComNumber->setCurrentIndex(portIndex);
    } else {
        line.portName = "COM1";
        ui_->cbComNumber->setCurrentIndex(ui_->cbComNumber->count() > 0 ? 0 : -1);
    }

    auto number = [](const QString& text) { return text.toUInt(); };
    if (!SelectItem(
            ui_->cbPortBRate, [&](const QString& t) { return number(t) == line.baud; },
            QStringLiteral("4800")))
        line.baud = 4800;
    if (!SelectItem(
            ui_->cbPortDataBits, [&](const QString& t) { return number(t) == line.dataBits; },
            QStringLiteral("8")))
        line.dataBits = 8;
    if (!SelectItem(
            ui_->cbPortStopBits, [&](const QString& t) { return number(t) == line.stopBits; },
            QStringLiteral("1")))
        line.stopBits = 1;
    if (!SelectItem(
            ui_->cbPortParity,
            [&](const QString& t) { return t.at(0) == QLatin1Char(line.parity); },
            QStringLiteral("None")))
        line.parity = 'N';
    session_.UsePortSettings(line);
}

void TComSetting::SaveParamClick() {
    auto numberOr = [](QComboBox* box, unsigned fallback) {
        return box->currentIndex() < 0 ? fallback : box->currentText().toUInt();
    };
    LineSettings line;
    line.baud = numberOr(ui_->cbPortBRate, 4800);
    line.dataBits = static_cast<uint8_t>(numberOr(ui_->cbPortDataBits, 8));
    line.stopBits = static_cast<uint8_t>(numberOr(ui_->cbPortStopBits, 1));
    line.parity = ui_->cbPortParity->currentIndex() < 0
                      ? 'N'
                      : ui_->cbPortParity->currentText().at(0).toLatin1();
    line.portName = ui_->cbComNumber->currentText().toStdString();
    session_.UsePortSettings(line);

    const SessionResult opened = session_.OpenSessionPort(this);
    if (!opened.Ok()) {
        session_.Ask().Message(
            this, WithPortErrorReason(QStringLiteral("Ошибка открытия порта"), opened.port));
        session_.SetPortClosed(true);
        return;
    }
    session_.SetPortClosed(false);

    ComIniEntry entry;
    entry.name = session_.Line().portName;
    entry.baud = session_.Line().baud;
    entry.reserved2 = reserved2_;
    entry.flagA = flagA_;
    entry.flagB = flagB_;
    entry.dataBits = session_.Line().dataBits;
    entry.parity = session_.Line().parity;
    entry.stopBits = session_.Line().stopBits;
    if (!WriteComIni(session_.Options().comIniPath, entry))
        session_.Ask().Message(this, QStringLiteral("Не удалось записать com.ini: параметры "
                                                    "порта действуют до закрытия программы"));
    accept();
}

void TComSetting::FormClose() {
    session_.RequestRepaint();
}

} // namespace velmar::ui
