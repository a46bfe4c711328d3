// The main window: the tabs, the menus, the controller-number label and the status line. It
// only wires the pages and the dialogs to the session; each tab's work lives in its page.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TVelmarMain;
}

class QDialog;

namespace velmar::ui {

class Page;
class Session;
class TabIdent;

// What start-up takes from the command line besides the session fields.
struct StartOptions {
    QString portName;             // replaces the port of com.ini when not empty
    std::optional<uint32_t> baud; // replaces the speed of com.ini (the built-in simulator's)
};

class TVelmarMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit TVelmarMain(Session& session, QWidget* parent = nullptr);
    ~TVelmarMain() override;

    // Start-up: port layer, com.ini, the port, the controller number and identification.
    void FormCreate(const StartOptions& options = {});
    // The dialogs opened from the menu; they live as long as the program.
    void SetComSetting(QDialog* dialog) { comSetting_ = dialog; }
    void SetAbout(QDialog* dialog) { about_ = dialog; }

    // The repaint rules: re-identification, port closed, port settings changed.
    void FormPaint();
    // The number query at start-up was cancelled: the window closes as soon as it would show.
    bool CloseOnShow() const { return closeOnShow_; }
    // No controller number has been entered since the port failed to open.
    bool NoCtrlrNumber() const { return noCtrlrNumber_; }
    // The window-level key handler; true when the key was taken.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);

    void menuChangeNumTrkClick();
    void menuWriteLogClick();
    void Setting1Click();
    void menuAboutClick();
    // "Открыть образ…": a saved image file becomes the controller of the session.
    void menuOpenImageClick();
    // "Сравнить с образом…": the controller on the line against a saved image file.
    void menuCompareImageClick();
    void menuJournalClick();
    void menuStationClick();

    TabIdent& Ident() { return *tabIdent_; }
    Page* PageByName(const QString& name) const;
    // Gives every control its hint and accessible name and binds every "?" button (again after
    // a page changed).
    void RefreshHints();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowMainTab();
    // Brings the main tab forward and identifies the controller at `number`.
    void IdentifyNumber(int number);
    int AskNumberTrk();
    void TabSettsChange(int index);
    void SetPortMenuCaption(bool closed);
    void HideDemoMenus();
    // The image file opened stands in for the controller: title, no number, identification.
    void UseOfflineImage();
    void ImageFileChanged(const QString& reason);

    Session& session_;
    std::unique_ptr<Ui::TVelmarMain> ui_;
    std::vector<Page*> pages_;
    TabIdent* tabIdent_ = nullptr;
    QDialog* comSetting_ = nullptr;
    QDialog* about_ = nullptr;
    bool inFormPaint_ = false;
    bool closed_ = false;
    bool noCtrlrNumber_ = true;
    QString stationDir_; // the station view's backup folder, kept while the window runs
    // The port dialog was opened: the next repaint checks the port state again.
    bool portSettingsChanged_ = false;
    bool closeOnShow_ = false;
};

} // namespace velmar::ui
