// Boundary round trip: each record kind filled with boundary patterns, its page opened with
// --service, every field entered and left without an edit, then saved. Nothing the engineer did
// not edit may change: a field that cut or wrapped a value would write it back changed.
#include "chan_fixture.h"
#include "data/channel_regs.h"
#include "data/channel_setts.h"
#include "data/side_state.h"

#include <set>

namespace velmar::test {
namespace {

struct Kind {
    const char* page;
    uint32_t at;
    int length;
    const char* save;
    std::set<int> repaired; // offsets the reading repairs by design (and a save then writes)
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
};

TEST_F(BoundaryTest, ASaveWithoutEditsChangesNoByte) {
    const Kind kinds[] = {
        {"TabNozSetts", kSettsAt, setts::kLength, "bSaveNozSets", {16}}, // phase above 2
        {"TabNozzRegs", kRegsAt, regs::kLength, "bSaveNozRegs", {2, 3}}, // status 0xFFFF: 0
        {"TabRegsSides", addr::kSideStateA, side::kLength, "bWriteRegsSides", {}},
    };
    StartBus();
    for (const Kind& kind : kinds) {
        for (const uint8_t pattern : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}}) {
            SCOPED_TRACE(std::string(kind.page) + " filled with " + std::to_string(pattern));
            Fill(kind.at, kind.length, pattern);
            Open(kind.page);
            LeaveEveryField();
            prompts->confirms = {true};
            Click(Button(kind.save));
            const std::vector<uint8_t> after = SimBytes(kind.at, kind.length);
            for (int i = 0; i < kind.length; ++i) {
                if (kind.repaired.count(i) != 0) continue;
                EXPECT_EQ(after[static_cast<size_t>(i)], pattern) << "byte " << i;
            }
        }
    }
}

} // namespace
} // namespace velmar::test
