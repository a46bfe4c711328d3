// The service tabs on their own, talking over a pseudo-terminal to the in-process controller
// simulator (or to the demo image), driven by clicks and key presses as an engineer would.
#pragma once

#include "data/demo_store.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "gui_common/page_fixture.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "sim/core/bus_simulator.h"
#include "ui/fields/field_marks.h"
#include "ui/pages/page.h"
#include "ui/session.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

namespace velmar::test {

// The live controller, except that reads at the addresses in `failReads` fail as a silent
// controller's would.
class SelectiveStore final : public RecordStore {
  public:
    SelectiveStore(const PortSlot& slot, const int& ctrl) : live_(slot, ctrl) {}
    std::set<int> failReads;

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space) override {
        return failReads.count(address) != 0 ? StoreResult::Failed(StoreCode::NoAnswer)
                                             : live_.Read(address, length, dst, space);
    }
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space) override {
        return live_.Write(address, length, data, space);
    }
    StoreResult Restart() override { return live_.Restart(); }
    StoreResult AwaitAnswer() override { return live_.AwaitAnswer(); }
    StoreResult ReadSizes() override { return live_.ReadSizes(); }
    bool Holds(int address, uint8_t space) const override { return live_.Holds(address, space); }
    bool IsDemo() const override { return false; }

  private:
    LiveRecordStore live_;
};

class SvcTest : public PageTestBase {
  protected:
    // A bus with default controllers and the session identified at the first of them.
    void StartBus(sim::Options options = {}) {
        ASSERT_NO_FATAL_FAILURE(StartBusSession(options));
        auto selective = std::make_unique<SelectiveStore>(session->Slot(), session->Address());
        store = selective.get();
        session->SetStore(std::move(selective));
        session->Store().Sizes().paramsLength = len::kParams;
    }

    // The demo image at `imagePath` instead of a controller.
    void StartDemo(const std::string& imagePath) {
        NewSession();
        ASSERT_NO_FATAL_FAILURE(StartDemoSession(*session, imagePath));
    }

    template <class P> P* Make() {
        auto* p = new P(*session, nullptr);
        page.reset(p);
        page->resize(900, 560);
        page->show();
        page->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(page.get()));
        return p;
    }

    void TearDown() override {
        page.reset();
        PageTestBase::TearDown();
    }

    // ---- The simulator's memory ----

    std::vector<uint8_t>& Memory(int space = 0, int address = 1) {
        sim::Controller* c = bus->Find(address);
        if (c == nullptr) throw std::runtime_error("no controller at that address");
        return c->Space(space);
    }
    uint8_t Sim(uint32_t at, int space = 0) {
        auto lock = bus->Lock();
        return Memory(space)[at];
    }
    void SetSim(uint32_t at, std::initializer_list<uint8_t> bytes, int space = 0) {
        auto lock = bus->Lock();
        for (const uint8_t b : bytes) Memory(space)[at++] = b;
    }

    // ---- Controls ----

    QWidget* ShownPage() const override { return page.get(); }

    // ---- What a person does ----

    using PageTestBase::Click;
    void Click(const char* button) { Click(Button(button)); }
    // Clicks into the field, selects its text, types over it and leaves with Tab.
    void Enter(const char* field, const QString& text) {
        QLineEdit* edit = Edit(field);
        Click(edit);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        Key(Qt::Key_Backspace);
        Type(text);
        Key(Qt::Key_Tab);
    }
    void Show() { page->PageShown(); }

    // The shipped demo image (only read by these tests).
    static std::string DemoImage() {
        return qEnvironmentVariable("VELMAR_SOURCE_DIR").toStdString() + "/demo_trk.bin";
    }

    SelectiveStore* store = nullptr; // owned by the session
    std::unique_ptr<ui::Page> page;
};

} // namespace velmar::test
