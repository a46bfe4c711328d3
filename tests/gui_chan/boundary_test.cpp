// Boundary round trip: each record kind filled with boundary patterns, its page opened with
// --service, every field entered and left without an edit, then saved. Nothing the engineer did
// not edit may change: a field that cut or wrapped a value would write it back changed. And each
// field at the largest value its width holds must show whole on its page.
#include "chan_fixture.h"
#include "data/channel_regs.h"
#include "data/channel_setts.h"
#include "data/field_catalogue.h"
#include "data/read_checks.h"
#include "data/side_state.h"
#include "data/temp_table.h"
#include "data/temp_table_calc.h"

#include <QTableWidget>
#include <functional>
#include <map>
#include <set>

namespace velmar::test {
namespace {

std::set<int> Range(int from, int to) {
    std::set<int> s;
    for (int i = from; i <= to; ++i) s.insert(i);
    return s;
}
std::set<int> operator+(std::set<int> a, const std::set<int>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

// The parameter block's bytes a save without edits rewrites by design: the line speeds, meter
// type, phase and display indices repaired on reading; the hose count the list selects (a count
// of 0 or above 15 selects "1"); the Nara addresses and the physical map packed from the grids
// for the counts (automatic numbering, 255 for unused positions); the checksum recomputed.
const std::set<int> kParamsRepaired =
    std::set<int>{0, 1, 4, 22, 23, 34, 57} + Range(6, 21) + Range(35, 50);

// The controller's own line speed ("4800") and side A address.
const std::vector<std::pair<int, uint8_t>> kLinkBytes = {{params::kSpeedTrk.offset, 3},
                                                         {params::kAdrTrk_1.offset, 1}};

template <class R> void RepairAsRead(std::vector<uint8_t>& bytes, auto check) {
    R record;
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.data());
    check(record);
    std::copy_n(record.data(), bytes.size(), bytes.begin());
}

struct Kind {
    RecordKind kind;
    std::vector<const char*> pages; // the first saves the record
    uint32_t at;
    int length;
    const char* save;
    std::set<int> repaired; // offsets the reading repairs by design (and a save then writes)
    // Offsets the pages do not show as text (each with its reason), and values shown other than
    // as stored, by design (offset: text).
    std::set<int> notShown = {};
    std::map<int, QString> shownAs = {};
    // The repairs of reading, as the pages show them.
    std::function<void(std::vector<uint8_t>&)> repair = {};
    // Bytes held at the controller's own values: the restart after a parameter write takes the
    // line speed and the side A address from the block, and the test must still reach it.
    std::vector<std::pair<int, uint8_t>> keep = {};
};

const Kind kKinds[] = {
    {RecordKind::ChannelSetts,
     {"TabNozSetts"},
     kSettsAt,
     setts::kLength,
     "bSaveNozSets",
     {16}, // phase above 2: 0
     {},
     {},
     [](auto& r) { RepairAsRead<ChannelSetts>(r, CheckSettsOnRead); }},
    // A state code without a list item shows no item; the status bits show as read.
    {RecordKind::ChannelRegs,
     {"TabNozzRegs"},
     kRegsAt,
     regs::kLength,
     "bSaveNozRegs",
     {2, 3}, // status 0xFFFF: 0
     {1}},
    {RecordKind::SideState,
     {"TabRegsSides"},
     addr::kSideStateA,
     side::kLength,
     "bWriteRegsSides",
     {}},
    {RecordKind::MakeBlock, {"TabAdvSet"}, addr::kMakeBlock, make::kLength, "bSetAdvSetTrk", {}},
    // Not shown as text: the side count (255 has no list item), the second mode mask (a check
    // list), the checksum, the Nara addresses and map positions beyond two sides of two hoses.
    {RecordKind::Params,
     {"TabCtrlrSetts", "TabAdvSet"},
     kParamsAt,
     params::kUsualLength,
     "bSetParam",
     kParamsRepaired,
     std::set<int>{5, 32, 33, 57} + Range(10, 21) + Range(39, 50),
     {{4, QStringLiteral("1")}},
     [](auto& r) { RepairAsRead<CtrlrParams>(r, CheckParamsOnRead); },
     kLinkBytes},
};

class BoundaryTest : public ChanTest {
  protected:
    void Fill(uint32_t at, int length, uint8_t value) {
        auto lock = bus->Lock();
        std::fill_n(Memory().begin() + at, length, value);
    }
    // Clicks into every editable field of the page and leaves it with Tab.
    void LeaveEveryField() {
        for (QLineEdit* edit : page->findChildren<QLineEdit*>()) {
            if (!edit->isVisible() || !edit->isEnabled() || edit->isReadOnly()) continue;
            Click(edit);
            QTest::keyClick(edit, Qt::Key_Tab);
        }
    }
    void Put(const Kind& kind, const std::vector<uint8_t>& record) {
        auto lock = bus->Lock();
        std::copy(record.begin(), record.end(), Memory().begin() + kind.at);
    }
    // Opens the record's page afresh, enters and leaves every field without an edit and saves:
    // no byte may change but those the reading repairs.
    void SaveUnedited(const Kind& kind) {
        const std::vector<uint8_t> before = SimBytes(kind.at, kind.length);
        Reopen(kind.pages.front());
        LeaveEveryField();
        prompts->confirms = {true};
        Click(Button(kind.save));
        const std::vector<uint8_t> after = SimBytes(kind.at, kind.length);
        for (size_t i = 0; i < after.size(); ++i) {
            if (kind.repaired.count(static_cast<int>(i)) != 0) continue;
            EXPECT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    // Shows the page afresh (its records read again), even when it is the current one.
    void Reopen(const char* name) {
        tabs->setCurrentWidget(window->PageByName(QStringLiteral("TabTemperatureTbl")));
        Open(name);
    }
    // Every value the page shows as text: its line edits, the selected items of its lists (all
    // items of an editable list, whose items are values), the cells of its grids.
    QStringList ShownTexts(const Kind& kind) {
        QStringList texts;
        for (const char* name : kind.pages) {
            Reopen(name);
            texts << ShownTexts();
        }
        return texts;
    }
    QStringList ShownTexts() const {
        QStringList texts;
        for (const QLineEdit* e : page->findChildren<QLineEdit*>())
            if (e->isVisible()) texts << e->text();
        for (const QComboBox* c : page->findChildren<QComboBox*>()) {
            if (!c->isVisible()) continue;
            texts << c->currentText();
            if (c->isEditable())
                for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
        }
        for (const QTableWidget* t : page->findChildren<QTableWidget*>()) {
            if (!t->isVisible()) continue;
            for (int r = 0; r < t->rowCount(); ++r)
                for (int c = 0; c < t->columnCount(); ++c)
                    if (const QTableWidgetItem* item = t->item(r, c)) texts << item->text();
        }
        return texts;
    }
};

// The parameter block saved from "Доп настройки" too: only the repaired indices and the
// checksum may change there (the topology is not packed). A heating switch-on temperature of 0
// or above is marked on leaving, so only the 0xFF pattern gets written.
const Kind kParamsOnAdvSet{RecordKind::Params,
                           {"TabAdvSet"},
                           kParamsAt,
                           params::kUsualLength,
                           "bSetAdvSetTrk",
                           {0, 1, 22, 23, 34, 57},
                           {},
                           {},
                           {},
                           kLinkBytes};

TEST_F(BoundaryTest, ASaveWithoutEditsChangesNoByte) {
    StartBus();
    std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));
    kinds.push_back(kParamsOnAdvSet);
    for (const Kind& kind : kinds) {
        for (const uint8_t pattern : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}}) {
            SCOPED_TRACE(std::string(kind.pages.front()) + " filled with " +
                         std::to_string(pattern));
            std::vector<uint8_t> record(static_cast<size_t>(kind.length), pattern);
            for (const auto& [offset, value] : kind.keep)
                record[static_cast<size_t>(offset)] = value;
            Put(kind, record);
            SaveUnedited(kind);
        }
    }
}

// The temperature table shows every entry in hex and writes back what it read. Its entries are
// all of one width, so the whole-table patterns hold each of them at its largest value too.
TEST_F(BoundaryTest, TheTemperatureTableShowsAndWritesBackWhatItRead) {
    StartBus();
    for (const uint8_t pattern : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}}) {
        SCOPED_TRACE(std::to_string(pattern));
        Fill(addr::kTempTable, temp::kLength, pattern);
        Reopen("TabTemperatureTbl");
        Click(Button("bReadTblT"));
        const auto* table = Get<QTableWidget>("sgTblT");
        const QString entry = QString::fromStdString(FormatTempAdc(pattern * 0x101));
        for (int k = 0; k < temp::kEntryCount; ++k)
            ASSERT_EQ(table->item(k, 2)->text(), entry) << "entry " << k;
        Fill(addr::kTempTable, temp::kLength, static_cast<uint8_t>(~pattern));
        Click(Button("bWriteTblT"));
        EXPECT_EQ(SimBytes(addr::kTempTable, temp::kLength),
                  std::vector<uint8_t>(temp::kLength, pattern));
    }
}

// One field at a time at the largest value its width holds, the rest of the record as the
// controller starts: the pages show the value whole, and a save without edits changes nothing.
TEST_F(BoundaryTest, EachFieldAtItsLargestValueShowsWholeAndGoesBackUnchanged) {
    StartBus();
    for (const Kind& kind : kKinds) {
        const std::vector<uint8_t> plain = SimBytes(kind.at, kind.length);
        std::vector<uint8_t> plainShown = plain;
        if (kind.repair) kind.repair(plainShown);
        const QStringList plainTexts = ShownTexts(kind);
        for (const CatalogueItem& item : CatalogueItems(kind.kind)) {
            if (kind.notShown.count(item.offset) != 0) continue;
            SCOPED_TRACE(item.caption);
            std::vector<uint8_t> record = plain;
            std::fill_n(record.begin() + item.offset, item.width, uint8_t{0xFF});
            Put(kind, record);
            if (kind.kind == RecordKind::Params) {
                auto lock = bus->Lock();
                bus->Find(1)->FixParamsChecksum();
            }
            if (kind.repair) kind.repair(record);
            const auto shown = [&](const std::vector<uint8_t>& r) {
                const auto as = kind.shownAs.find(item.offset);
                return as != kind.shownAs.end()
                           ? as->second
                           : QString::fromStdString(FormatCatalogueValue(item, r.data(), r.size()));
            };
            const QString expected = shown(record);
            const QStringList texts = ShownTexts(kind);
            // Shown once more than before, unless the value shows as the plain one did (a
            // repaired index showing its default item).
            const int more = expected != shown(plainShown) ? 1 : 0;
            EXPECT_GE(texts.count(expected), plainTexts.count(expected) + more)
                << "expected " << expected.toStdString() << " among "
                << texts.join(QLatin1Char('|')).toStdString();
            EXPECT_TRUE(texts.contains(expected));
            const bool linkByte = std::any_of(kind.keep.begin(), kind.keep.end(), [&](auto k) {
                return k.first >= item.offset && k.first < item.offset + item.width;
            });
            if (!linkByte) SaveUnedited(kind);
        }
        Put(kind, plain);
    }
}

// Each scaled field, given a value that is not a multiple of its scale, shows on leaving what
// the controller will hold, and a save writes exactly that.
TEST_F(BoundaryTest, AScaledFieldShowsTheStoredValueOnLeaving) {
    struct Scaled {
        const char* page;
        const char* edit;
        const char* save;
        Field field;
        const char* typed;
        const char* shown;
        uint8_t stored;
    } const cases[] = {
        {"TabCtrlrSetts", "eSlowStart", "bSetParam", params::kSlowStart, "150", "100", 1},
        {"TabCtrlrSetts", "eSlowLoad", "bSetParam", params::kSlowLoad, "250", "200", 2},
        {"TabCtrlrSetts", "eNozzleFat", "bSetParam", params::kNozzleFat, "305", "300", 30},
        {"TabAdvSet", "eHydroHit", "bSetAdvSetTrk", params::kHydroHit, "47", "40", 4},
    };
    StartBus();
    for (const Scaled& c : cases) {
        SCOPED_TRACE(c.edit);
        Reopen(c.page);
        Enter(c.edit, QString::fromLatin1(c.typed));
        EXPECT_EQ(Text(c.edit), QString::fromLatin1(c.shown));
        Click(Button(c.save));
        EXPECT_EQ(Sim(kParamsAt + c.field.offset, 1), c.stored);
        EXPECT_EQ(Text(c.edit), QString::fromLatin1(c.shown));
    }
}

} // namespace
} // namespace velmar::test
