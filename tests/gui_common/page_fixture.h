// What the page and dialog tests share: a session with scripted prompts talking over a
// pseudo-terminal to the in-process controller simulator (or to a copy of the demo image), and
// the hands of an engineer driving it with clicks and key presses. Each folder's fixture adds
// the page or dialog it tests.
#pragma once

#include "gui_common/fake_prompts.h"
#include "gui_common/session_support.h"
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

// Where the records the pages show lie in the controller's memory.
inline constexpr uint32_t kSettsAt = 0x1000;
inline constexpr uint32_t kRegsAt = 0x2000;
inline constexpr uint32_t kParamsAt = 0x3101;

class PageTestBase : public ::testing::Test {
  protected:
    void TearDown() override { EndSessionAndBus(session, bus); }

    // The page whose controls Get and its kin find by name.
    virtual QWidget* ShownPage() const { return nullptr; }
    template <class W> W* Get(const char* name) const {
        QWidget* shown = ShownPage();
        W* w = shown != nullptr ? shown->findChild<W*>(QString::fromLatin1(name)) : nullptr;
        if (w == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return w;
    }
    QLineEdit* Edit(const char* name) const { return Get<QLineEdit>(name); }
    QComboBox* Combo(const char* name) const { return Get<QComboBox>(name); }
    QPushButton* Button(const char* name) const { return Get<QPushButton>(name); }
    bool Marked(const char* name) const { return ui::IsMarked(Get<QWidget>(name)); }

    // A bus with default controllers (two sides with two hoses each unless `options` say
    // otherwise) and a new session identified at the first of them.
    void StartBusSession(const sim::Options& options) {
        bus = std::make_unique<sim::BusSimulator>(options);
        ASSERT_EQ(bus->Start(), 0);
        StartPortLayer();
        NewSession();
        ASSERT_NO_FATAL_FAILURE(ConnectSessionToBus(*session, *bus, options.addresses.front()));
    }

    // A session with scripted prompts; the status line's text is kept in `status`.
    void NewSession() {
        session = std::make_unique<ui::Session>();
        // The journal of changes lives with the test, never in the working directory.
        Reconfigure(*session,
                    [&](ui::SessionOptions& o) { o.journalPath = JournalPath().toStdString(); });
        prompts = new FakePrompts;
        session->SetPrompts(std::unique_ptr<ui::Prompts>(prompts));
        QObject::connect(session.get(), &ui::Session::statusChanged,
                         [this](const QString& text) { status = text; });
    }

    QString JournalPath() const { return dir.filePath(QStringLiteral("journal.sqlite")); }

    // The shipped demo image copied into the test's own directory (the demo writes to it).
    QString CopyDemoImage() {
        EXPECT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("demo_trk.bin"));
        const QString source = QDir(qEnvironmentVariable("VELMAR_SOURCE_DIR"))
                                   .filePath(QStringLiteral("demo_trk.bin"));
        EXPECT_TRUE(QFile::copy(source, path)) << source.toStdString();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    sim::Controller& Controller(int address = 1) {
        sim::Controller* c = bus->Find(address);
        if (c == nullptr) throw std::runtime_error("no controller at that address");
        return *c;
    }
    int Restarts(int address = 1) {
        auto lock = bus->Lock();
        return Controller(address).restarts;
    }

    // ---- What a person does ----

    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // On a real display a dialog just shown may take a moment to get the focus.
    static QWidget* Focus() {
        for (int i = 0; i < 200 && QApplication::focusWidget() == nullptr; ++i) QTest::qWait(10);
        QWidget* w = QApplication::focusWidget();
        return w != nullptr ? w : QApplication::activeModalWidget();
    }
    static void Key(Qt::Key key) { QTest::keyClick(Focus(), key); }
    static void Type(const QString& text) {
        for (const QChar c : text) QTest::keyClick(Focus(), c.toLatin1());
    }

    // Saves a picture of `w` when VELMAR_SCREENSHOT_DIR is set.
    static void Screenshot(QWidget& w, const QString& name) {
        const QString shots = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (shots.isEmpty()) return;
        QApplication::processEvents();
        w.grab().save(shots + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    static QString U(const char* utf8) { return QString::fromUtf8(utf8); }

    QTemporaryDir dir;
    std::unique_ptr<sim::BusSimulator> bus;
    std::unique_ptr<ui::Session> session;
    FakePrompts* prompts = nullptr; // owned by the session
    QString status;
};

} // namespace velmar::test
