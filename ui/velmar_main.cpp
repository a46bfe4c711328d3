#include "ui/velmar_main.h"

#include "data/device_image.h"
#include "data/image_file.h"
#include "data/image_file_store.h"
#include "link/serial_port.h"
#include "ui/dialogs/image_compare.h"
#include "ui/dialogs/journal_view.h"
#include "ui/dialogs/station_view.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/enabling_rules.h"
#include "ui/fields/hex_number.h"
#include "ui/fields/hint_table.h"
#include "ui/offline_image.h"
#include "ui/pages/main_pages.h"
#include "ui/pages/page.h"
#include "ui/pages/tab_ident.h"
#include "ui/port_config.h"
#include "ui/session.h"
#include "ui_velmar_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTabBar>
#include <QTimer>

namespace velmar::ui {

namespace {

const QString kPortOpen = QStringLiteral("Соm порт (открыт)"); // "Со" in Cyrillic, as always
const QString kPortClosed = QStringLiteral("Соm порт (закрыт)");
// How soon a question that has to wait for the window's own loop is tried again.
constexpr int kRetryLaterMs = 100;

QString PortFailureText(const std::string& portName, const PortResult& port) {
    return WithPortErrorReason(QStringLiteral("Ошибка открытия порта") +
                                   QString::fromStdString(portName) +
                                   QStringLiteral(". Проверьте настройки"),
                               port);
}

} // namespace

TVelmarMain::TVelmarMain(Session& session, QWidget* parent)
    : QMainWindow(parent), session_(session), ui_(std::make_unique<Ui::TVelmarMain>()) {
    ui_->setupUi(this);
    setFixedSize(800, 600);
    QFont numberFont(QStringLiteral("Times New Roman"));
    numberFont.setStyleHint(QFont::Serif);
    numberFont.setPixelSize(19);
    ui_->lNumberCtrlr->setFont(numberFont);
    // All shown tabs fit in one row of the fixed-width window.
    QFont tabFont = ui_->TabSetts->tabBar()->font();
    tabFont.setPointSizeF(tabFont.pointSizeF() - 1.0);
    ui_->TabSetts->tabBar()->setFont(tabFont);
    ui_->TabSetts->tabBar()->setStyleSheet(QStringLiteral(
        "QTabBar::tab { padding: 4px 9px; } QTabBar::tab:selected { background: white; }"));

    for (const PageEntry& entry : MainPages()) {
        Page* page = entry.make(session_, ui_->TabSetts);
        page->setObjectName(QString::fromUtf8(entry.name));
        // A page hidden from everyday use gets no tab at all: a hidden tab would still be offered
        // to screen readers as a page tab. The page itself lives on, hidden.
        if (entry.shown || session_.Options().serviceMode)
            ui_->TabSetts->addTab(page, QString::fromUtf8(entry.caption));
        else
            page->hide();
        pages_.push_back(page);
        if (auto* ident = qobject_cast<TabIdent*>(page)) tabIdent_ = ident;
    }
    ui_->TabSetts->setCurrentWidget(tabIdent_);
    RefreshHints();
    // The journal names a write after the dialog open, else the tab shown.
    session_.SetOperationSource([this] {
        if (const QWidget* modal = QApplication::activeModalWidget();
            modal != nullptr && modal != this && !modal->windowTitle().isEmpty())
            return modal->windowTitle();
        return ui_->TabSetts->tabText(ui_->TabSetts->currentIndex());
    });

    connect(ui_->TabSetts, &QTabWidget::currentChanged, this, &TVelmarMain::TabSettsChange);
    connect(ui_->menuChangeNumTrk, &QAction::triggered, this, &TVelmarMain::menuChangeNumTrkClick);
    connect(ui_->menuExit, &QAction::triggered, this, &QWidget::close);
    connect(ui_->Setting1, &QAction::triggered, this, &TVelmarMain::Setting1Click);
    connect(ui_->menuWriteLog, &QAction::triggered, this, &TVelmarMain::menuWriteLogClick);
    connect(ui_->menuAbout, &QAction::triggered, this, &TVelmarMain::menuAboutClick);
    connect(ui_->menuOpenImage, &QAction::triggered, this, &TVelmarMain::menuOpenImageClick);
    connect(ui_->menuCompareImage, &QAction::triggered, this, &TVelmarMain::menuCompareImageClick);
    connect(ui_->menuJournal, &QAction::triggered, this, &TVelmarMain::menuJournalClick);
    connect(ui_->menuStation, &QAction::triggered, this, &TVelmarMain::menuStationClick);

    connect(&session_, &Session::statusChanged, ui_->lIdentState, &QLabel::setText);
    connect(&session_, &Session::statusRepaintRequested, ui_->lIdentState,
            qOverload<>(&QWidget::repaint));
    connect(&session_, &Session::numberLabelChanged, ui_->lNumberCtrlr, &QLabel::setText);
    connect(&session_, &Session::repaintRequested, this, &TVelmarMain::FormPaint);
    connect(&session_, &Session::showMainTabRequested, this, &TVelmarMain::ShowMainTab);
    connect(&session_, &Session::portStateChanged, this, &TVelmarMain::SetPortMenuCaption);
    connect(&session_, &Session::demoImageLoaded, this, &TVelmarMain::HideDemoMenus);
    connect(&session_, &Session::imageFileChanged, this, &TVelmarMain::ImageFileChanged);

    // Key preview: the window sees the function keys before its controls do.
    qApp->installEventFilter(this);
}

TVelmarMain::~TVelmarMain() {
    qApp->removeEventFilter(this);
    if (!closed_) {
        session_.ReleaseDemoImage();
        session_.CloseSessionPort();
    }
}

void TVelmarMain::RefreshHints() {
    NameInputControls(this);
    EnabledHint(this, true);
    ConnectHelpButtons(this, [this](const QString& text) { session_.Ask().Message(this, text); });
}

Page* TVelmarMain::PageByName(const QString& name) const {
    for (Page* p : pages_)
        if (p->objectName() == name) return p;
    return nullptr;
}

void TVelmarMain::FormCreate(const StartOptions& options) {
    session_.StartPorts();
    session_.ClearReident(Reident::ImageOrDialog);
    ShowMainTab();

    // Discovery also finds the converters; an empty list is no failure, since a port named on
    // the command line or in com.ini may still open.
    session_.DiscoverPorts();

    // --image: the file is the controller; no line, no number query.
    if (session_.ImageFile() != nullptr) {
        UseOfflineImage();
        return;
    }

    ComIniEntry entry;
    if (!ReadComIni(session_.Options().comIniPath, entry)) {
        if (options.portName.isEmpty())
            session_.Ask().Message(this, QStringLiteral("Ошибка чтения com.ini. Восстановлены "
                                                        "параметры порта по умолчанию (Com1 "
                                                        "4800 8 1 N)"));
        entry = DefaultComIni();
    }
    session_.UsePortSettings(entry);
    LineSettings line = session_.Line();
    if (!options.portName.isEmpty()) line.portName = options.portName.toStdString();
    if (options.baud) line.baud = *options.baud;
    session_.UsePortSettings(line);

    const SessionResult opened = session_.OpenSessionPort(this);
    if (opened.Ok()) {
        session_.SetPortClosed(false);
        QString text;
        if (session_.Ask().InputQuery(this, QStringLiteral("Введите номер Контроллера(HEX)"),
                                      QStringLiteral("Введите номер Контроллера(HEX)"), text)) {
            const std::optional<int> number = ParseHexNumber(text);
            session_.SetAddress(number && *number > 0 ? *number : 1);
            noCtrlrNumber_ = false;
            tabIdent_->IdentToForm();
        } else {
            closeOnShow_ = true;
        }
        return;
    }
    session_.Ask().Message(this, PortFailureText(session_.Line().portName, opened.port));
    session_.SetPortClosed(true);
    session_.SetNumberLabel(QStringLiteral("Номер контроллера не введен"));
    noCtrlrNumber_ = true;
    // The window's first paint: without a port only the port settings are of use.
    FormPaint();
}

void TVelmarMain::ShowMainTab() {
    ui_->TabSetts->setCurrentWidget(tabIdent_);
}

void TVelmarMain::FormPaint() {
    if (inFormPaint_) return;
    inFormPaint_ = true;
    if (session_.AnyReidentRequested()) {
        ShowMainTab();
        tabIdent_->IdentToForm();
        session_.ClearReidentRequests();
    }
    // An image file needs no line.
    if (session_.PortClosed() && session_.ImageFile() == nullptr) {
        ShowMainTab();
        ApplyEnablingRule(EnablingRule::C, tabIdent_, ui_->menuChangeNumTrk, session_.DemoMode());
        portSettingsChanged_ = false;
    } else if (portSettingsChanged_) {
        ShowMainTab();
        ApplyEnablingRule(noCtrlrNumber_ ? EnablingRule::D : EnablingRule::E, tabIdent_,
                          ui_->menuChangeNumTrk, session_.DemoMode());
        portSettingsChanged_ = false;
    }
    inFormPaint_ = false;
}

void TVelmarMain::TabSettsChange(int index) {
    const int identIndex = ui_->TabSetts->indexOf(tabIdent_);
    if (index != identIndex) {
        // Tab guard: the main tab stays in front while the controller search runs.
        if (tabIdent_->SearchRunning()) {
            ui_->TabSetts->setCurrentIndex(identIndex);
            tabIdent_->update();
            return;
        }
        // A tab change repaints the window: with the port closed the repaint rules bring the
        // main tab back, so no other tab reads from a port that is not there. The demo image
        // needs no port.
        if (!session_.DemoMode()) {
            FormPaint();
            if (ui_->TabSetts->currentIndex() != index) return;
        }
    }
    if (auto* page = qobject_cast<Page*>(ui_->TabSetts->widget(index))) page->PageShown();
}

bool TVelmarMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (key < Qt::Key_F1 || key > Qt::Key_F9) return false;
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return false;
    if (QGuiApplication::mouseButtons() != Qt::NoButton) return false;
    if (!session_.ImageTransferIdle()) return false;
    IdentifyNumber(key - Qt::Key_F1 + 1);
    return true;
}

void TVelmarMain::IdentifyNumber(int number) {
    session_.SetAddress(number);
    session_.ForgetController();
    ShowMainTab();
    tabIdent_->IdentToForm();
}

bool TVelmarMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (FormKeyDown(key->key(), key->modifiers())) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TVelmarMain::menuChangeNumTrkClick() {
    const int number = AskNumberTrk();
    noCtrlrNumber_ = false;
    IdentifyNumber(number);
}

// The number query of the number menu: the number typed, or after a bad entry the number in use
// (1 when there is none yet).
int TVelmarMain::AskNumberTrk() {
    const int remembered = session_.Address();
    QString text;
    if (session_.Ask().InputQuery(this, QStringLiteral("Введите номер ТРК(HEX)"),
                                  QStringLiteral("Введите номер ТРК(HEX)"), text)) {
        const std::optional<int> number = ParseHexNumber(text);
        if (number && *number > 0) return *number;
        if (remembered != 0) {
            session_.Ask().Message(this, QStringLiteral("Введен неправильный номер ТРК!"));
            return remembered;
        }
        session_.Ask().Message(
            this, QStringLiteral("Введен неправильный номер ТРК! Номер установлен = 1"));
        return 1;
    }
    if (remembered > 0) return remembered;
    session_.Ask().Message(this, QStringLiteral("Неправильный номер ТРК! Номер установлен = 1"));
    return 1;
}

void TVelmarMain::menuWriteLogClick() {
    // The action toggles its check mark itself; the state after the click decides.
    const bool on = ui_->menuWriteLog->isChecked();
    SetLogMask(on ? 1 : 0);
    ui_->menuLog->setTitle(on ? QStringLiteral("Лог(вкл)") : QStringLiteral("Лог(выкл)"));
}

void TVelmarMain::Setting1Click() {
    // The search polls the port: it ends before the port closes, so that its end does not give
    // back the buttons rule C takes away, nor list answering controllers as not found.
    tabIdent_->StopSearch();
    session_.CloseSessionPort();
    SetPortMenuCaption(true);
    portSettingsChanged_ = true;
    if (comSetting_)
        session_.Ask().ExecDialog(*comSetting_);
    else
        FormPaint();
}

void TVelmarMain::menuAboutClick() {
    if (about_) session_.Ask().ExecDialog(*about_);
}

void TVelmarMain::SetPortMenuCaption(bool closed) {
    ui_->menuCom->setTitle(closed ? kPortClosed : kPortOpen);
}

void TVelmarMain::menuOpenImageClick() {
    if (!session_.ImageTransferIdle() || tabIdent_->SearchRunning()) return;
    const QString path = AskImageFile(session_, this, QStringLiteral("Открыть образ"));
    if (path.isEmpty() || !OpenOfflineImage(session_, this, path)) return;
    // The controller on the line is left: the file is the controller from now on.
    session_.CloseSessionPort();
    UseOfflineImage();
}

// Another program changed the image file in use: the write was refused. The engineer may open
// the file again (the window's unsaved edits are dropped) or keep working with what is shown.
void TVelmarMain::ImageFileChanged(const QString& reason) {
    const ImageFileStore* file = session_.ImageFile();
    if (file == nullptr) return;
    // Asked only from the window's own loop: not inside a box or an exchange of the handler
    // that wrote, which still works with the records of the file as it was opened.
    if (QApplication::activeModalWidget() != nullptr || session_.ExchangeBusy()) {
        QTimer::singleShot(kRetryLaterMs, this, [this, reason] { ImageFileChanged(reason); });
        return;
    }
    const QString path = QString::fromStdString(file->Path());
    if (!session_.Ask().Confirm(this, reason + QStringLiteral("\n\nОткрыть файл заново? Правки, "
                                                              "не записанные в файл, будут "
                                                              "потеряны.")))
        return;
    if (!OpenOfflineImage(session_, this, path)) return;
    UseOfflineImage();
}

void TVelmarMain::UseOfflineImage() {
    setWindowTitle(SessionWindowTitle(session_));
    ui_->menuCompareImage->setEnabled(false);
    noCtrlrNumber_ = false;
    session_.SetNumberLabel(QStringLiteral("Образ из файла"));
    ShowMainTab();
    tabIdent_->IdentToForm();
}

void TVelmarMain::menuJournalClick() {
    TJournalView dialog(session_, session_.Options().journalPath, this);
    session_.Ask().ExecDialog(dialog);
}

// The station view works on the line as the window's port reaches it; the controller chosen there
// becomes the window's, as "Сменить номер трк" makes a typed one.
void TVelmarMain::menuStationClick() {
    if (!session_.ImageTransferIdle() || tabIdent_->SearchRunning()) return;
    if (session_.DemoMode() || session_.Slot() == 0) {
        session_.Ask().Message(this, QStringLiteral("Нет связи с устройством"));
        return;
    }
    TStationView dialog(session_, this);
    if (!stationDir_.isEmpty()) dialog.SetBackupDir(stationDir_);
    dialog.Scan();
    session_.Ask().ExecDialog(dialog);
    stationDir_ = dialog.BackupDir();
    if (dialog.ChosenNumber() != 0) {
        noCtrlrNumber_ = false;
        IdentifyNumber(dialog.ChosenNumber());
    } else {
        // Controllers written from the view are read again by the tabs.
        FormPaint();
    }
}

void TVelmarMain::menuCompareImageClick() {
    if (!session_.ImageTransferIdle() || tabIdent_->SearchRunning()) return;
    if (session_.DemoMode() || !session_.Identified()) {
        session_.Ask().Message(this, QStringLiteral("Нет связи с устройством"));
        return;
    }
    const QString path = AskImageFile(session_, this, QStringLiteral("Сравнить с образом"));
    if (path.isEmpty()) return;
    std::vector<uint8_t> file;
    std::string error;
    if (OpenImageFile(path.toStdString(), file, &error) != ImageLoadResult::Loaded) {
        session_.Ask().Message(this, QString::fromStdString(error));
        return;
    }
    std::vector<uint8_t> controller;
    QString why;
    if (!ReadControllerImage(session_, controller, why)) {
        if (!session_.Runner().CloseRequested()) session_.Ask().Message(this, why);
        return;
    }
    TImageCompare dialog(session_, this);
    dialog.Compare(path, std::move(file), std::move(controller));
    session_.Ask().ExecDialog(dialog);
    // Records written from the file are re-read by the tabs from the controller.
    FormPaint();
}

void TVelmarMain::HideDemoMenus() {
    ui_->menuCom->menuAction()->setVisible(false);
    ui_->menuLog->menuAction()->setVisible(false);
}

void TVelmarMain::showEvent(QShowEvent* event) {
    // The dialogs are made after the window's pages: their fields get their names here.
    NameInputControls(this);
    QMainWindow::showEvent(event);
}

void TVelmarMain::closeEvent(QCloseEvent* event) {
    if (!session_.ImageTransferIdle()) {
        event->ignore();
        return;
    }
    session_.ReleaseDemoImage();
    session_.CloseSessionPort();
    session_.StopPorts();
    closed_ = true;
    event->accept();
}

} // namespace velmar::ui
