// The two channel tabs inside the main window, talking over a pseudo-terminal to the in-process
// controller simulator (or to a demo image), driven by clicks and key presses as an engineer
// would. The window runs with --service so that the register tab is shown.
#pragma once

#include "data/demo_store.h"
#include "data/memory_map.h"
#include "gui_common/page_fixture.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/page.h"
#include "ui/session.h"
#include "ui/velmar_main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace velmar::test {

class ChanTest : public PageTestBase {
  protected:
    // A default controller (two sides with two hoses each unless `options` say otherwise).
    void StartBus(sim::Options options = {}) {
        ASSERT_NO_FATAL_FAILURE(StartBusSession(options));
        MakeWindow();
    }

    // The demo image copied from the source tree into a fresh directory.
    void StartDemo() {
        imagePath = CopyDemoImage();
        NewSession();
        ASSERT_NO_FATAL_FAILURE(StartDemoSession(*session, imagePath.toStdString()));
        MakeWindow();
    }

    void MakeWindow() {
        Reconfigure(*session, [](ui::SessionOptions& o) { o.serviceMode = true; });
        QObject::connect(session.get(), &ui::Session::showMainTabRequested,
                         [this] { ++mainTabRequests; });
        window = std::make_unique<ui::TVelmarMain>(*session);
        tabs = window->findChild<QTabWidget*>(QStringLiteral("TabSetts"));
        ASSERT_NE(tabs, nullptr);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // The parameter tab is read first (as the engineer's first visit does), then `name` shown.
    void Open(const char* name) {
        tabs->setCurrentWidget(window->PageByName(QStringLiteral("TabCtrlrSetts")));
        ASSERT_TRUE(session->Model().Params().wasRead);
        page = window->PageByName(QLatin1String(name));
        tabs->setCurrentWidget(page);
    }

    void TearDown() override {
        window.reset();
        PageTestBase::TearDown();
    }

    // ---- The simulator's memory ----

    std::vector<uint8_t>& Memory() { return bus->Find(1)->Space(0); }
    uint32_t Sim(uint32_t address, int width) {
        auto lock = bus->Lock();
        uint32_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = (v << 8) | Memory()[address + static_cast<uint32_t>(i)];
        return v;
    }
    void SetSim(uint32_t address, int width, uint32_t value) {
        auto lock = bus->Lock();
        for (int i = 0; i < width; ++i)
            Memory()[address + static_cast<uint32_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
    std::vector<uint8_t> SimBytes(uint32_t address, int length) {
        auto lock = bus->Lock();
        return {Memory().begin() + address, Memory().begin() + address + length};
    }

    // ---- Controls ----

    QWidget* ShownPage() const override { return page; }
    QString Text(const char* name) { return Edit(name)->text(); }

    // ---- What a person does ----

    void Tab() { QTest::keyClick(Focus(), Qt::Key_Tab); }
    // Clicks into the field, types over its text and leaves it with Tab.
    void Enter(const char* name, const QString& text) {
        QLineEdit* edit = Edit(name);
        Click(edit);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        Type(text);
        Tab();
    }
    void Choose(const char* combo, int item) {
        QComboBox* box = Combo(combo);
        box->setFocus(Qt::MouseFocusReason);
        box->setCurrentIndex(item);
        emit box->activated(item);
    }
    void ClickItem(QListWidget* list, int item) {
        const QRect rect = list->visualItemRect(list->item(item));
        // The check box sits at the start of the item.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(rect.left() + 10, rect.center().y()));
    }

    std::unique_ptr<ui::TVelmarMain> window;
    QTabWidget* tabs = nullptr;
    ui::Page* page = nullptr;
    QString imagePath;
    int mainTabRequests = 0;
};

} // namespace velmar::test
