// Writing: following a new line speed and side-A address, the address probe, the channel
// conversion after a meter type change, failures, and the demo image.
#include "data/channel_setts.h"
#include "data/demo_store.h"
#include "data/journal.h"
#include "setts_fixture.h"
#include "ui/dialogs/journal_view.h"
#include "ui/fields/hint_table.h"
#include "ui/pages/tab_ident.h"

#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cmath>

namespace velmar::test {
namespace {

constexpr int kOutcomeColumn = 9; // the journal dialog's "Итог"

// The session's port and controller number still reach the controller: a plain read works.
int ReadBlockThroughSession(ui::Session& session) {
    uint8_t bytes[256] = {};
    return session.Store().Read(0x3100, -1, bytes, 0).Length();
}

bool Reident(const ui::Session& s, ui::Reident which) {
    return s.ReidentRequested(which);
}

// A save from the tab enters each changed field in the journal of changes, named as the tab and
// the screens name it.
TEST_F(SettsTest, ASaveIsJournaled) {
    StartBus();
    ASSERT_NO_FATAL_FAILURE(Host());
    TypeInto(Edit("eSlowStart"), "300");
    Tab();
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    std::string error;
    const auto journal = Journal::OpenExisting(JournalPath().toStdString(), error);
    ASSERT_NE(journal, nullptr) << error;
    const auto entries = journal->List({}, error);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].program, "velmar");
    EXPECT_EQ(entries[0].operation, "Настройки контроллера");
    EXPECT_EQ(entries[0].caption, "Доза в начале, мл");
    EXPECT_EQ(entries[0].newValue, "300");
    EXPECT_EQ(entries[0].outcome, kOutcomeWritten);
    EXPECT_EQ(entries[0].ctrlr, 1);

    // The journal's dialog lists it, chosen by field, and saves it as CSV.
    ui::TJournalView view(*session, JournalPath().toStdString());
    EXPECT_EQ(view.Listed().size(), entries.size());
    view.findChild<QLineEdit*>(QStringLiteral("eField"))->setText(U("Доза в начале"));
    ASSERT_TRUE(view.Refresh());
    ASSERT_EQ(view.Listed().size(), 1u);
    const auto table = view.findChild<QTableWidget*>(QStringLiteral("tEntries"));
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 6)->text(), U("Доза в начале, мл"));
    EXPECT_TRUE(table->item(0, 10)->text().isEmpty()); // not a metrological field
    EXPECT_TRUE(QString::fromUtf8(view.Csv()).contains(U(";Доза в начале, мл;100;300;записано;")))
        << view.Csv().toStdString();
}

// A write a crash left in the journal with its outcome unknown: the journal's dialog shows it
// so, and the tab's next read of the record settles it (the controller holds the bytes written).
TEST_F(SettsTest, AWriteLeftUnknownIsShownSoAndSettledByTheNextRead) {
    StartBus();
    std::vector<uint8_t> held;
    {
        auto lock = bus->Lock();
        const auto& er = bus->Find(1)->Space(0);
        held.assign(er.begin() + addr::kParams, er.begin() + addr::kParams + len::kParams);
    }
    std::string error;
    {
        auto journal = Journal::Open(JournalPath().toStdString(), error);
        ASSERT_NE(journal, nullptr) << error;
        JournalEntry e;
        e.time = JournalNow();
        e.ctrlr = 1;
        e.port = session->Line().portName;
        e.recordKind = "Params";
        e.caption = "Доза в начале, мл";
        e.oldValue = "?";
        e.newValue = "100";
        e.outcome = kOutcomeUnknown;
        std::vector<JournalEntry> entries{e};
        JournalWrite w;
        w.ctrlr = 1;
        w.port = e.port;
        w.address = addr::kParams;
        w.newBytes = held;
        ASSERT_TRUE(journal->AppendPending(entries, w, error)) << error;
    }
    {
        ui::TJournalView view(*session, JournalPath().toStdString());
        const auto table = view.findChild<QTableWidget*>(QStringLiteral("tEntries"));
        ASSERT_EQ(table->rowCount(), 1);
        EXPECT_EQ(table->item(0, kOutcomeColumn)->text(), U(kOutcomeUnknown));
    }
    Show(); // the tab reads the parameter block
    ui::TJournalView view(*session, JournalPath().toStdString());
    const auto table = view.findChild<QTableWidget*>(QStringLiteral("tEntries"));
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, kOutcomeColumn)->text(), U(kOutcomeWritten));
}

// The journal cannot be written: the save does not start, and the engineer is told why.
TEST_F(SettsTest, ASaveWithoutAWritableJournalDoesNotStart) {
    StartBus();
    Reconfigure(*session,
                [&](ui::SessionOptions& o) { o.journalPath = "/proc/velmar-journal.sqlite"; });
    Show();
    const uint8_t before = SimParam(params::kSlowStart.offset);
    TypeInto(Edit("eSlowStart"), "300");
    Tab();
    Save();
    EXPECT_EQ(SimParam(params::kSlowStart.offset), before);
    ASSERT_FALSE(prompts->messages.isEmpty());
    EXPECT_TRUE(prompts->messages.join('|').contains(U("журнал изменений")))
        << prompts->messages.join('|').toStdString();
}

TEST_F(SettsTest, ANewSpeedIsFollowedOnOurPort) {
    StartBus();
    Show();
    Choose(Combo("cbSpeedTrk"), "9600");
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join('|').toStdString();
    EXPECT_EQ(SimParam(0), 2);
    {
        auto lock = bus->Lock();
        EXPECT_EQ(bus->Find(1)->LineBaud(), 9600u);
    }
    EXPECT_EQ(session->Line().baud, 9600u);
    EXPECT_TRUE(Reident(*session, ui::Reident::WriteFailedOrSpeed));
    EXPECT_GE(mainTabRequests, 1);
    EXPECT_EQ(ReadBlockThroughSession(*session), 58);
}

// The restart's status is lost on the way: the window follows the new speed all the same, finds
// the controller there and says so.
TEST_F(SettsTest, ANewSpeedIsFollowedWhenTheRestartStatusIsLost) {
    StartBus();
    {
        auto lock = bus->Lock();
        bus->GetFaults().loseRestartStatus = 1;
    }
    Show();
    QStringList shown;
    QObject::connect(session.get(), &ui::Session::statusChanged,
                     [&shown](const QString& text) { shown << text; });
    Choose(Combo("cbSpeedTrk"), "9600");
    Save();
    // The engineer saw that the window waits for the controller.
    EXPECT_TRUE(shown.join('|').contains(U("ожидание ответа контроллера")))
        << shown.join('|').toStdString();
    {
        auto lock = bus->Lock();
        EXPECT_EQ(bus->Find(1)->LineBaud(), 9600u);
    }
    EXPECT_EQ(session->Line().baud, 9600u);
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(U("связь переведена на них")))
        << prompts->messages[0].toStdString();
    EXPECT_EQ(ReadBlockThroughSession(*session), 58);
}

// One side: a new side-A address is probed first; another controller answers there, so the
// engineer is warned. Cancel writes nothing; OK writes and restarts, but the two controllers then
// answer together at the address: the window cannot tell its controller there, says that it does
// not know where it is, and writes nothing more (nothing reaches the other controller).
TEST_F(SettsTest, ANewAddressInUseWarnsAndTheControllersSharingItAreNotWrittenTo) {
    sim::Options options;
    options.addresses = {1, 7};
    options.sides = 1;
    StartBus(options);
    Show();
    const QString before = status;
    TypeInto(Edit("eAdrTrk_1"), "7");
    Tab();
    Save();
    ASSERT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(prompts->confirmTexts[0],
              U("                             ВНИМАНИЕ!\n\r Выбранный вами адрес уже "
                "используется!\n\r Если вы продолжите программирование, связь\n\r          "
                "            с этими ТРК пропадет!\n\r                    Вы хотите продолжить?"));
    EXPECT_EQ(SimParam(2), 1);
    EXPECT_EQ(status, before);
    EXPECT_EQ(session->Address(), 1);
    EXPECT_TRUE(Reident(*session, ui::Reident::SideAddress));

    std::vector<uint8_t> otherBefore;
    {
        auto lock = bus->Lock();
        otherBefore = bus->Controllers()[1]->Space(0);
    }
    prompts->confirms = {true};
    Save();
    ASSERT_FALSE(prompts->messages.isEmpty());
    EXPECT_TRUE(prompts->messages.back().contains(U("Где он, неизвестно")))
        << prompts->messages.back().toStdString();
    EXPECT_NE(status, U("Параметры успешно записаны"));
    EXPECT_EQ(session->Address(), 1);
    auto lock = bus->Lock();
    sim::Controller& first = *bus->Controllers()[0];
    EXPECT_EQ(first.Space(0)[kParamsAt + 2], 7);
    EXPECT_EQ(first.SideAAddress(), 7);
    EXPECT_EQ(first.restarts, 1);
    EXPECT_EQ(bus->Controllers()[1]->restarts, 0);
    EXPECT_TRUE(bus->Controllers()[1]->Space(0) == otherBefore);
}

// In the main window the identification requested by the new address runs at once even when the
// engineer cancels: nothing is written and the session stays where the controller answers.
TEST_F(SettsTest, ACancelledAddressChangeIdentifiesAgainAtTheAddressInUse) {
    sim::Options options;
    options.addresses = {1, 7};
    options.sides = 1;
    StartBus(options);
    Host();
    TypeInto(Edit("eAdrTrk_1"), "7");
    Tab();
    Save();
    ASSERT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(SimParam(2), 1);
    EXPECT_EQ(tabs->currentWidget(), static_cast<QWidget*>(&window->Ident()));
    EXPECT_TRUE(session->Identified());
    EXPECT_EQ(session->Address(), 1);
    EXPECT_EQ(numberLabel, U("Работа с Адресом №1"));
    EXPECT_FALSE(session->AnyReidentRequested());
}

TEST_F(SettsTest, AFreeNewAddressIsTakenWithoutAQuestion) {
    sim::Options options;
    options.sides = 1;
    StartBus(options);
    Show();
    TypeInto(Edit("eAdrTrk_1"), "9");
    Tab();
    Save();
    EXPECT_TRUE(prompts->confirmTexts.isEmpty());
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(session->Address(), 9);
    EXPECT_EQ(ReadBlockThroughSession(*session), 58);
    EXPECT_EQ(SimParam(2, 9), 9);
}

// In the main window: after a write with a new speed and side-A address the window brings the
// main tab forward and identifies the controller again where it now listens.
TEST_F(SettsTest, TheWindowIdentifiesAgainAtTheNewSpeedAndAddress) {
    sim::Options options;
    options.sides = 1;
    StartBus(options);
    Host();
    ASSERT_EQ(status, U("Параметры были успешно считаны"));
    Choose(Combo("cbSpeedTrk"), "19200");
    TypeInto(Edit("eAdrTrk_1"), "12");
    Tab();
    Save();
    EXPECT_TRUE(prompts->confirmTexts.isEmpty());
    EXPECT_EQ(tabs->currentWidget(), static_cast<QWidget*>(&window->Ident()));
    EXPECT_TRUE(session->Identified());
    EXPECT_EQ(session->Address(), 12);
    EXPECT_EQ(session->Line().baud, 19200u);
    EXPECT_FALSE(session->AnyReidentRequested());

    // Back on the tab, the block comes from the controller at its new place.
    tabs->setCurrentWidget(page.get());
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    EXPECT_EQ(Edit("eAdrTrk_1")->text(), "12");
    EXPECT_EQ(Combo("cbSpeedTrk")->currentText(), "19200");
}

// Changing only side B's address neither probes nor moves the session.
TEST_F(SettsTest, SideBAddressAloneIsWrittenInPlace) {
    StartBus();
    Show();
    TypeInto(Edit("eAdrTrk_2"), "20");
    Tab();
    Save();
    EXPECT_TRUE(prompts->confirmTexts.isEmpty());
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(session->Address(), 1);
    EXPECT_FALSE(session->AnyReidentRequested());
    EXPECT_EQ(SimParam(3), 20);
}

// 100 -> 256 pulses per litre: every used channel's calibration pair is rescaled by 200/512
// in the controller's memory; unused channels are left alone.
TEST_F(SettsTest, MeterType256RescalesEveryUsedChannel) {
    StartBus(); // two sides, two hoses: channels 0..3 used
    Show();
    std::vector<ChannelSetts> before;
    {
        auto lock = bus->Lock();
        for (int n = 0; n < 5; ++n)
            before.emplace_back(std::span<const uint8_t>(
                &Memory()[kSettsAt + 0x100u * static_cast<uint32_t>(n)], 19));
    }
    Choose(Combo("cbMeterType"), U("256 имп"));
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(22), 1);

    auto lock = bus->Lock();
    for (int n = 0; n < 5; ++n) {
        const ChannelSetts after(
            std::span<const uint8_t>(&Memory()[kSettsAt + 0x100u * static_cast<uint32_t>(n)], 19));
        const ChannelSetts& old = before[static_cast<size_t>(n)];
        if (n == 4) {
            EXPECT_EQ(after, old) << "unused channel changed";
            continue;
        }
        const auto scaled = [](uint64_t v) {
            return static_cast<uint64_t>(
                std::floor(static_cast<long double>(v) * 200 / 512 + 0.5L));
        };
        const uint64_t w = (uint64_t{old.ImpWHi()} << 32) | old.ImpWLo();
        const uint64_t kl = (uint64_t{old.ImpWkHi()} << 32) | old.ImpWkLo();
        EXPECT_EQ((uint64_t{after.ImpWHi()} << 32) | after.ImpWLo(), scaled(w)) << n;
        EXPECT_EQ((uint64_t{after.ImpWkHi()} << 32) | after.ImpWkLo(), scaled(kl)) << n;
        EXPECT_EQ(after.ImpWkWLo(), static_cast<uint32_t>(scaled(kl) - scaled(w))) << n;
        EXPECT_EQ(after.ImpLit(), 512) << n;
        EXPECT_EQ(after.MeterPhase(), old.MeterPhase()) << n;
    }
}

TEST_F(SettsTest, AFailedWriteIsReportedAndTriedAgainNextTime) {
    StartBus();
    Show();
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = static_cast<int>(kParamsAt);
    }
    TypeInto(Edit("eMetTOut"), "33");
    Tab();
    Save();
    EXPECT_EQ(prompts->messages, QStringList{U("Ошибка записи!")});
    EXPECT_EQ(status, U("Ошибка записи!"));
    EXPECT_TRUE(Reident(*session, ui::Reident::WriteFailedOrSpeed));
    EXPECT_GE(mainTabRequests, 1);
    EXPECT_EQ(SimParam(27), 15);

    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = -1;
    }
    Save();
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(SimParam(27), 33);
}

// Written but not restarted: the controller still works with its old block and speed, so the
// port stays where it was and the engineer is told.
TEST_F(SettsTest, ARestartTheControllerDoesNotTakeIsReported) {
    StartBus();
    Show();
    const uint32_t baud = session->Line().baud;
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = 0x88FFFF;
    }
    Choose(Combo("cbSpeedTrk"), "9600");
    Save();
    // A status that says no is a refusal, reported as one, never as a lost status.
    const QString text = U("Контроллер отказался выполнить рестарт; параметры записаны, но не "
                           "вступили в силу. Связь оставлена на прежних скорости и адресе");
    EXPECT_EQ(prompts->messages, QStringList{text});
    EXPECT_EQ(status, text);
    EXPECT_EQ(session->Line().baud, baud);
    EXPECT_TRUE(Reident(*session, ui::Reident::WriteFailedOrSpeed));
}

TEST_F(SettsTest, AFailedChannelConversionIsReported) {
    StartBus();
    Show();
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = static_cast<int>(kSettsAt);
    }
    Choose(Combo("cbMeterType"), U("132 имп"));
    Save();
    EXPECT_EQ(prompts->messages, QStringList{U("Ошибка записи параметров канала")});
    EXPECT_EQ(status, U("Ошибка записи параметров канала"));
    EXPECT_EQ(SimParam(22), 2); // the parameters themselves were written
    EXPECT_TRUE(Reident(*session, ui::Reident::WriteFailedOrSpeed));
}

// Demo mode: the block comes from and goes into the demo image; no address probe.
TEST_F(SettsTest, DemoImageIsReadAndWritten) {
    const QString image = CopyDemoImage();
    StartDemo(image.toStdString());
    Show();
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    TypeInto(Edit("eMetTOut"), "42");
    TypeInto(Edit("eAdrTrk_1"), "77");
    Tab();
    Save();
    EXPECT_TRUE(prompts->confirmTexts.isEmpty());
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(session->Address(), 1);

    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.size(), demo::kParamsOffset + 58);
    EXPECT_EQ(static_cast<uint8_t>(bytes[demo::kParamsOffset + 27]), 42);
    EXPECT_EQ(static_cast<uint8_t>(bytes[demo::kParamsOffset + 2]), 77);
}

// Every control of the hint table's rows for this tab exists here, and every "?" button shows
// the hint of its field.
TEST_F(SettsTest, EveryHelpButtonShowsItsHint) {
    StartBus();
    ui::EnabledHint(page.get(), true);
    ui::ConnectHelpButtons(
        page.get(), [this](const QString& text) { session->Ask().Message(page.get(), text); });
    int rows = 0;
    for (const ui::HintRow& row : ui::HintTable()) {
        if (std::string(row.tab) != "TabCtrlrSetts") continue;
        ++rows;
        for (const char* name : row.controls) {
            QWidget* control = page->findChild<QWidget*>(QString::fromLatin1(name));
            ASSERT_NE(control, nullptr) << name;
            EXPECT_EQ(control->toolTip(), ui::HintDisplayText(U(row.text))) << name;
        }
    }
    EXPECT_GE(rows, 15);
    int buttons = 0;
    for (QAbstractButton* help : page->findChildren<QAbstractButton*>()) {
        if (!help->objectName().startsWith("help")) continue;
        ++buttons;
        prompts->messages.clear();
        Click(help);
        EXPECT_EQ(prompts->messages,
                  QStringList{ui::HintDisplayText(ui::HintText(help->objectName()))})
            << help->objectName().toStdString();
    }
    EXPECT_EQ(buttons, 13);
}

} // namespace
} // namespace velmar::test
