// The controller settings tab on its own, talking over a pseudo-terminal to the in-process
// controller simulator, driven by mouse clicks and key presses as an engineer would.
#pragma once

#include "data/demo_store.h"
#include "data/memory_map.h"
#include "gui_common/page_fixture.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "sim/core/bus_simulator.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/tab_ctrlr_setts.h"
#include "ui/session.h"
#include "ui/velmar_main.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace velmar::test {

class SettsTest : public PageTestBase {
  protected:
    // A bus with default controllers (two sides, two hoses each unless `options` say otherwise)
    // and the tab connected to the first of them, identified.
    void StartBus(sim::Options options = {}) {
        ASSERT_NO_FATAL_FAILURE(StartBusSession(options));
        session->Store().Sizes().paramsLength = len::kParams;
        MakePage();
    }

    // The tab on the demo image at `imagePath` instead of a controller.
    void StartDemo(const std::string& imagePath) {
        NewSession();
        ASSERT_NO_FATAL_FAILURE(StartDemoSession(*session, imagePath));
        MakePage();
    }

    void MakePage() {
        QObject::connect(session.get(), &ui::Session::numberLabelChanged,
                         [this](const QString& text) { numberLabel = text; });
        QObject::connect(session.get(), &ui::Session::showMainTabRequested,
                         [this] { ++mainTabRequests; });
        page = std::make_unique<ui::TabCtrlrSetts>(*session);
        page->resize(784, 470);
        page->show();
        page->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
    }

    // The tab in the main window's page control, in the place of its placeholder, so that the
    // window's repaint rules (identification after a write) run as in the program.
    void Host() {
        window = std::make_unique<ui::TVelmarMain>(*session);
        tabs = window->findChild<QTabWidget*>(QStringLiteral("TabSetts"));
        ASSERT_NE(tabs, nullptr);
        const int index = tabs->indexOf(window->PageByName(QStringLiteral("TabCtrlrSetts")));
        tabs->removeTab(index);
        page->setObjectName(QStringLiteral("TabCtrlrSetts"));
        tabs->insertTab(index, page.get(), U("Настройки контроллера"));
        window->RefreshHints();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        tabs->setCurrentIndex(index); // shows the tab: the block is read
    }

    void TearDown() override {
        if (window) {
            // The page belongs to the fixture, not to the window.
            tabs->removeTab(tabs->indexOf(page.get()));
            page->setParent(nullptr);
            window.reset();
        }
        page.reset();
        PageTestBase::TearDown();
    }

    // ---- The simulator's memory ----

    std::vector<uint8_t>& Memory(int address = 1) {
        sim::Controller* c = bus->Find(address);
        if (c == nullptr) throw std::runtime_error("no controller at that address");
        return c->Space(0);
    }
    uint8_t SimParam(int offset, int address = 1) {
        auto lock = bus->Lock();
        return Memory(address)[kParamsAt + static_cast<uint32_t>(offset)];
    }
    // Changes bytes of the parameter block and, unless told otherwise, its checksum with them.
    void SetSimParams(std::initializer_list<std::pair<int, uint8_t>> bytes, bool fixKsm = true,
                      int address = 1) {
        auto lock = bus->Lock();
        for (const auto& [offset, value] : bytes)
            Memory(address)[kParamsAt + static_cast<uint32_t>(offset)] = value;
        if (fixKsm) bus->Find(address)->FixParamsChecksum();
    }

    // ---- Controls ----

    QWidget* ShownPage() const override { return page.get(); }
    ui::FieldGrid* Grid(const char* name) { return Get<ui::FieldGrid>(name); }
    QListWidget* Modes() { return Get<QListWidget>("checkbTrkModes"); }
    int InvalidCount() { return session->FieldEntry().invalidFieldCount; }

    // ---- What a person does ----

    void ClickCell(ui::FieldGrid* grid, int column) {
        const QRect cell = grid->visualRect(grid->model()->index(0, column));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }
    void Tab() { Key(Qt::Key_Tab); }
    // Clicks into the field, selects its text and types over it.
    void TypeInto(QLineEdit* edit, const QString& text) {
        Click(edit);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty()) Key(Qt::Key_Backspace);
        Type(text);
    }
    // Types over one grid cell.
    void TypeCell(ui::FieldGrid* grid, int column, const QString& text) {
        ClickCell(grid, column);
        Type(text);
        Key(Qt::Key_Return);
    }
    void Choose(QComboBox* box, const QString& text) {
        box->setFocus(Qt::MouseFocusReason);
        const int item = box->findText(text);
        if (item < 0) throw std::runtime_error("no such item");
        box->setCurrentIndex(item);
        emit box->activated(item); // as a click on the item: also when it was selected already
    }
    void Show() { page->PageShown(); }
    void Save() { Click(Button("bSetParam")); }

    std::unique_ptr<ui::TabCtrlrSetts> page;
    std::unique_ptr<ui::TVelmarMain> window;
    QTabWidget* tabs = nullptr;
    QString numberLabel;
    int mainTabRequests = 0;
};

} // namespace velmar::test
