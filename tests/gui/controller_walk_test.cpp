// The window moved through as an engineer moves through it, with three controllers on the line
// whose contents differ: after every step, no controller's memory changed but by an edit made on
// that controller's page, every write went to the controller the window names, and what the
// window holds of a controller is that controller's.
#include "data/channel_regs.h"
#include "data/channel_setts.h"
#include "data/ctrlr_params.h"
#include "data/make_block.h"
#include "data/memory_map.h"
#include "data/side_state.h"
#include "data/temp_table.h"
#include "gui_fixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

namespace velmar::test {
namespace {

constexpr int kParams = addr::kParams;
// Where a field of the parameter block lies in the controller's memory.
constexpr int At(const Field& f, int element = 0) {
    return kParams + f.ElementOffset(element);
}
constexpr int kKsm = kParams + params::kKsm.offset;

using Memory = std::map<int, std::vector<uint8_t>>; // controller number -> its ER space

class ControllerWalk : public GuiTest {
  protected:
    // Controllers 1, 3 and 5: 3 counts at 256 pulses per litre, 5 has other operator passwords
    // and flow limit, so that a copy carried from one to another shows.
    void StartStation(int sides) {
        StartSim({1, 3, 5}, sides);
        auto lock = sim->Lock();
        auto& three = sim->Find(3)->Space(0);
        for (int n = 0; n < kChannelCount; ++n) {
            const int impLit = ChannelAddress(addr::kChannelSettsBase, n) + setts::kImpLit.offset;
            three[static_cast<size_t>(impLit)] = 0x00; // 256, little-endian
            three[static_cast<size_t>(impLit + 1)] = 0x02;
        }
        if (meterTypeFollows) three[At(params::kMeterType)] = 1;
        sim->Find(3)->FixParamsChecksum();
        // With one side the tab numbers side B's Nara addresses on and a save packs them in
        // (n + 1 .. 2n): the blocks hold them already, so that a save without edits is one.
        for (int c : {1, 3, 5}) {
            auto& er = sim->Find(c)->Space(0);
            const int n = er[At(params::kCountNozTrk)];
            for (int i = n; i < 2 * n && sides == 1; ++i)
                if (er[static_cast<size_t>(At(params::kAdrNaraTrk, i))] == 0)
                    er[static_cast<size_t>(At(params::kAdrNaraTrk, i))] =
                        static_cast<uint8_t>(i + 1);
            sim->Find(c)->FixParamsChecksum();
        }
        auto& five = sim->Find(5)->Space(0);
        five[static_cast<size_t>(addr::kMakeBlock + make::kBmuPUser.offset)] = 0x77;
        five[At(params::kMinSpeed)] = 17;
        sim->Find(5)->FixParamsChecksum();
    }

    Memory Snapshot() {
        auto lock = sim->Lock();
        Memory m;
        for (int n : {1, 3, 5}) m[n] = sim->Find(n)->Space(0);
        return m;
    }

    // The number the window says it works with; 0 when it names none.
    int ShownNumber() const {
        static const QRegularExpression kNumber(QStringLiteral("№(\\d+)$"));
        const QRegularExpressionMatch m = kNumber.match(Text("lNumberCtrlr"));
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }

    // Addresses whose bytes changed on controller n.
    static std::set<int> Changed(const Memory& before, const Memory& after, int n) {
        std::set<int> out;
        const auto& a = before.at(n);
        const auto& b = after.at(n);
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) out.insert(static_cast<int>(i));
        return out;
    }

    // What the window holds of the controller it names is that controller's.
    void ExpectModelMatches(const Memory& memory, const std::string& step) {
        const ControllerModel& model = session->Model();
        const int n = ShownNumber();
        if (n == 0 || !memory.count(n)) {
            EXPECT_FALSE(model.Params().wasRead) << step;
            return;
        }
        const auto& m = memory.at(n);
        if (model.Params().wasRead) {
            EXPECT_EQ(model.Identity().address, n) << step;
            EXPECT_TRUE(std::equal(model.Params().read.data(),
                                   model.Params().read.data() + len::kParams, m.begin() + kParams))
                << step << ": the block held is not controller " << n << "'s";
        }
        if (model.Make().wasRead) {
            EXPECT_TRUE(std::equal(model.Make().read.data(),
                                   model.Make().read.data() + make::kLength,
                                   m.begin() + addr::kMakeBlock))
                << step;
        }
        // Each record the window holds as read is the bytes at its address.
        const auto expectHeld = [&](const auto& held, int address, const std::string& what) {
            if (!held.wasRead) return;
            const auto& bytes = held.read;
            EXPECT_TRUE(std::equal(bytes.data(), bytes.data() + bytes.size(), m.begin() + address))
                << step << ": " << what << " held is not controller " << n << "'s";
        };
        for (int c = 0; c < kChannelCount; ++c) {
            expectHeld(model.Setts(c), ChannelAddress(addr::kChannelSettsBase, c),
                       "settings of channel " + std::to_string(c));
            expectHeld(model.Regs(c), ChannelAddress(addr::kChannelRegsBase, c),
                       "registers of channel " + std::to_string(c));
        }
        expectHeld(model.Side(0), addr::kSideStateA, "side A state");
        expectHeld(model.Side(1), addr::kSideStateB, "side B state");
        expectHeld(model.Temperatures(), addr::kTempTable, "temperature table");
        if (model.Dump().wasRead) {
            const MemoryBlock& dump = model.Dump().read;
            auto lock = sim->Lock();
            const auto& space = sim->Find(n)->Space(dump.space);
            EXPECT_TRUE(
                std::equal(dump.bytes.begin(), dump.bytes.end(), space.begin() + dump.address))
                << step << ": the dump held is not controller " << n << "'s";
        }
        auto* page = Tabs()->currentWidget();
        if (CurrentTab() == QStringLiteral("TabCtrlrSetts") && page->isEnabled() &&
            model.Params().wasRead) {
            EXPECT_EQ(Find<QLineEdit>("eAdrTrk_1")->text().toInt(), m[At(params::kAdrTrk_1)])
                << step;
        }
    }

    // Types `text` into the field and leaves it, as the engineer does.
    void Enter(const char* field, const QString& text) {
        auto* edit = Find<QLineEdit>(field);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        Find<QWidget>("bSetParam")->setFocus(); // leaving checks and stores
    }

    void Click(const char* button) {
        auto* b = window->findChild<QPushButton*>(QLatin1String(button));
        if (b != nullptr && b->isVisible() && b->isEnabled()) QTest::mouseClick(b, Qt::LeftButton);
    }

    bool meterTypeFollows = true;
};

// One write that names another controller breaks a station: the sequence that once did.
TEST_F(ControllerWalk, SavingChannelsAfterSwitchingControllersLeavesTheOtherBlockAlone) {
    meterTypeFollows = false;
    ASSERT_NO_FATAL_FAILURE(StartStation(2));
    StartApp(QStringLiteral("1"));
    const Memory before = Snapshot();
    Tabs()->setCurrentWidget(Find("TabCtrlrSetts"));
    QTest::keyClick(window.get(), Qt::Key_F3);
    ASSERT_EQ(ShownNumber(), 3);
    Tabs()->setCurrentWidget(Find("TabAdvSet"));
    Tabs()->setCurrentWidget(Find("TabNozSetts"));
    Click("bSaveNozSets");
    const Memory after = Snapshot();
    EXPECT_EQ(before.at(1), after.at(1));
    EXPECT_EQ(after.at(3)[At(params::kAdrTrk_1)], 3);
    EXPECT_EQ(after.at(3)[At(params::kAdrTrk_2)], 4);
    // What follows from the channels: the meter type and the block's checksum, nothing else.
    for (int a : Changed(before, after, 3))
        EXPECT_TRUE(a == At(params::kMeterType) || a == kKsm) << "byte 0x" << std::hex << a;
    EXPECT_EQ(after.at(3)[At(params::kMeterType)], 1);
}

// A seeded random walk: tab changes, quick keys, reads, saves with and without edits, the
// search and the port dialog. VELMAR_WALK_STEPS sets its length (default 200).
class SeededWalk : public ControllerWalk, public ::testing::WithParamInterface<unsigned> {};

TEST_P(SeededWalk, EveryWriteGoesToTheControllerShown) {
    ASSERT_NO_FATAL_FAILURE(StartStation(1));
    serviceMode = true;
    StartApp(QStringLiteral("1"));
    std::mt19937 rng(GetParam());
    const char* env = std::getenv("VELMAR_WALK_STEPS");
    const int steps = env != nullptr ? std::atoi(env) : 200;
    const QString port = QString::fromStdString(sim->SlavePath());
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

    // At one step the engineer closes the window while the step is under way.
    const int closeAt = steps / 2 + pick(std::max(steps / 2, 1));
    for (int i = 0; i < steps; ++i) {
        if (i == closeAt) QTimer::singleShot(pick(40), window.get(), [this] { window->close(); });
        const Memory before = Snapshot();
        const int shown = ShownNumber();
        std::set<int> allowed; // bytes this step may change on the controller shown
        std::string step;
        switch (pick(9)) {
        case 0:
        case 1:
            step = "tab";
            Tabs()->setCurrentIndex(pick(Tabs()->count()));
            break;
        case 2: {
            static constexpr Qt::Key kKeys[] = {Qt::Key_F1, Qt::Key_F3, Qt::Key_F5, Qt::Key_F2};
            step = "quick key";
            QTest::keyClick(window.get(), kKeys[pick(4)]);
            break;
        }
        case 3:
            step = "read";
            for (const char* b : {"bGetParam", "bGetAdvSetTrk", "bCallNozSets", "bCallNozRegs",
                                  "bCallRegsSides", "bReadTblT", "bReadDump"})
                if (Tabs()->currentWidget()->findChild<QPushButton*>(QLatin1String(b))) Click(b);
            break;
        case 4:
            step = "save without edits";
            for (const char* b :
                 {"bSetParam", "bSetAdvSetTrk", "bSaveNozSets", "bSaveNozRegs", "bWriteRegsSides"})
                if (Tabs()->currentWidget()->findChild<QPushButton*>(QLatin1String(b))) Click(b);
            break;
        case 5:
        case 6: {
            step = "edit and save";
            if (CurrentTab() == QStringLiteral("TabCtrlrSetts") && Enabled("bSetParam")) {
                Enter("eNozzleWait", QString::number(pick(100)));
                allowed = {At(params::kNozzleWait), kKsm};
                Click("bSetParam");
            } else if (CurrentTab() == QStringLiteral("TabAdvSet") && Enabled("bSetAdvSetTrk")) {
                Enter("eMinSpeed", QString::number(pick(31)));
                allowed = {At(params::kMinSpeed), kKsm};
                Click("bSetAdvSetTrk");
            } else {
                Tabs()->setCurrentWidget(Find(pick(2) == 0 ? "TabCtrlrSetts" : "TabAdvSet"));
            }
            break;
        }
        case 7:
            step = "search";
            Tabs()->setCurrentIndex(0);
            Click("bFindCtrlr");
            QTest::qWait(pick(60));
            Click("bFindCtrlr");
            break;
        default:
            step = "port dialog";
            prompts->onDialog = [&](QDialog& d) {
                if (pick(2) == 0) return; // cancelled: the port stays closed
                auto* ports = d.findChild<QComboBox*>(QStringLiteral("cbComNumber"));
                ports->setCurrentIndex(ports->findText(port));
                QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("SaveParam")),
                                  Qt::LeftButton);
            };
            MenuAction("Setting1")->trigger();
            prompts->onDialog = nullptr;
            break;
        }
        step = "step " + std::to_string(i) + " (" + step + ")";
        const Memory after = Snapshot();
        for (int n : {1, 3, 5})
            for (int a : Changed(before, after, n))
                EXPECT_TRUE(n == shown && allowed.count(a) != 0)
                    << step << ": controller " << n << " byte 0x" << std::hex << a
                    << " changed while the window showed " << std::dec << shown;
        if (i == closeAt) {
            for (int wait = 0; wait < 500 && window->isVisible(); ++wait) QTest::qWait(10);
            EXPECT_FALSE(window->isVisible()) << step << ": the close was not delivered";
            EXPECT_FALSE(session->ExchangeBusy()) << step;
            EXPECT_EQ(session->Slot(), 0) << step << ": the port is still open";
            break;
        }
        ExpectModelMatches(after, step);
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SeededWalk, ::testing::Values(11u, 23u, 37u));

} // namespace
} // namespace velmar::test
