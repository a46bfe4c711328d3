// The setup dialogs on their own, talking over a pseudo-terminal to the in-process controller
// simulator (or to a demo image), driven by clicks and key presses as an engineer would.
#pragma once

#include "data/demo_store.h"
#include "data/memory_map.h"
#include "gui_common/page_fixture.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"
#include "ui/fields/field_marks.h"
#include "ui/session.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace velmar::test {

class DialogsTest : public PageTestBase {
  protected:
    // A bus with default controllers and the session talking to the first of them.
    void StartBus(sim::Options options = {}) { ASSERT_NO_FATAL_FAILURE(StartBusSession(options)); }

    // The session on a copy of the shipped demo image instead of a controller.
    void StartDemo() {
        demoPath = CopyDemoImage();
        NewSession();
        ASSERT_NO_FATAL_FAILURE(StartDemoSession(*session, demoPath.toStdString()));
    }

    // Shows a dialog as the main tab's button does (its opening runs), without a modal loop.
    static void Open(QDialog& dialog) {
        dialog.show();
        dialog.activateWindow();
        QApplication::processEvents();
    }

    void TearDown() override {
        dialogs.clear();
        PageTestBase::TearDown();
    }

    template <class D> D& Make() {
        auto d = std::make_unique<D>(*session);
        D& ref = *d;
        dialogs.push_back(std::move(d));
        return ref;
    }

    // ---- The simulator's memory ----

    std::vector<uint8_t>& Memory(int address = 1) {
        sim::Controller* c = bus->Find(address);
        if (c == nullptr) throw std::runtime_error("no controller at that address");
        return c->Space(0);
    }
    uint8_t SimByte(uint32_t at, int address = 1) { return SimBytes(at, 1, address)[0]; }
    std::vector<uint8_t> SimBytes(uint32_t at, int count, int address = 1) {
        auto lock = bus->Lock();
        const auto& m = Memory(address);
        return {m.begin() + at, m.begin() + at + static_cast<uint32_t>(count)};
    }
    uint8_t SimParam(int offset, int address = 1) {
        return SimByte(addr::kParams + static_cast<uint32_t>(offset), address);
    }
    void SetSimBytes(uint32_t at, std::initializer_list<uint8_t> bytes, int address = 1) {
        auto lock = bus->Lock();
        for (const uint8_t b : bytes) Memory(address)[at++] = b;
    }
    void SetSimParams(std::initializer_list<std::pair<int, uint8_t>> bytes, int address = 1) {
        auto lock = bus->Lock();
        for (const auto& [offset, value] : bytes)
            Memory(address)[addr::kParams + static_cast<uint32_t>(offset)] = value;
        bus->Find(address)->FixParamsChecksum();
    }
    static uint32_t RegsAt(int n) {
        return static_cast<uint32_t>(ChannelAddress(addr::kChannelRegsBase, n));
    }

    // ---- Controls ----

    template <class W> static W* Get(QWidget& dialog, const char* name) {
        W* w = dialog.findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return w;
    }

    // ---- What a person does ----

    // Clicks into the field, selects its text and types over it; Tab leaves it.
    static void TypeInto(QLineEdit* edit, const QString& text, bool leave = true) {
        Click(edit);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        Type(text);
        if (leave) QTest::keyClick(Focus(), Qt::Key_Tab);
    }
    static void Choose(QComboBox* box, const QString& text) {
        box->setFocus(Qt::MouseFocusReason);
        const int item = box->findText(text);
        if (item < 0) throw std::runtime_error("no such item");
        box->setCurrentIndex(item);
        emit box->activated(item);
    }

    QString demoPath;
    std::vector<std::unique_ptr<QDialog>> dialogs;
};

} // namespace velmar::test
