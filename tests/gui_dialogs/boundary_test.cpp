// Boundary values in the setup dialogs: what the initial setup loads from the controller shows
// whole, and opening either dialog, leaving every field unedited and closing it writes nothing.
#include "dialogs_fixture.h"
#include "ui/dialogs/def_set.h"
#include "ui/dialogs/global_setts.h"

#include <algorithm>

namespace velmar::test {
namespace {

class DialogsBoundaryTest : public DialogsTest {
  protected:
    void FillParams(uint8_t value) {
        auto lock = bus->Lock();
        std::fill_n(Memory().begin() + addr::kParams, len::kParams, value);
    }
    std::vector<uint8_t> Space() {
        auto lock = bus->Lock();
        return Memory();
    }
    static QStringList Texts(QWidget& d) {
        QStringList texts;
        for (const QLineEdit* e : d.findChildren<QLineEdit*>()) texts << e->text();
        return texts;
    }
    // Opens the dialog, clicks into every editable field and leaves it with Tab, then closes it.
    template <class D> void LeaveEveryFieldAndClose() {
        QDialog& d = Make<D>();
        Open(d);
        for (QLineEdit* edit : d.findChildren<QLineEdit*>()) {
            if (!edit->isVisible() || !edit->isEnabled() || edit->isReadOnly()) continue;
            Click(edit);
            QTest::keyClick(edit, Qt::Key_Tab);
        }
        d.reject();
    }
};

// Each digit field at the largest value of its byte shows the byte times its scale.
TEST_F(DialogsBoundaryTest, InitialSetupShowsEveryLoadedValueWhole) {
    struct Digit {
        Field field;
        int scale;
    } const digits[] = {{params::kSlowLoad, 100}, {params::kSlowStart, 100},
                        {params::kNozzleFat, 10}, {params::kMetTOut, 1},
                        {params::kPcTimeout, 1},  {params::kMinSpeed, 1},
                        {params::kMinSpTime, 1},  {params::kNozzleWait, 1}};
    StartBus();
    auto& plainDialog = Make<ui::TfGlobalSetts>();
    Open(plainDialog);
    const QStringList plainTexts = Texts(plainDialog);
    plainDialog.reject();
    for (const Digit& digit : digits) {
        SCOPED_TRACE(digit.field.name);
        const uint8_t plain = SimParam(digit.field.offset);
        SetSimParams({{digit.field.offset, 0xFF}});
        auto& d = Make<ui::TfGlobalSetts>();
        Open(d);
        const QString whole = QString::number(255 * digit.scale);
        EXPECT_GT(Texts(d).count(whole), plainTexts.count(whole));
        d.reject();
        SetSimParams({{digit.field.offset, plain}});
    }
    // The overflow limit is shown in litres: 255 tens of millilitres. The address lists of two
    // sides with two hoses each at the largest addresses.
    SetSimParams({{params::kHydroHit.offset, 0xFF},
                  {params::kAdrTrk_1.offset, 0xFF},
                  {params::kAdrTrk_2.offset, 0xFE},
                  {6, 0xFC},
                  {7, 0xFD},
                  {8, 0xFE},
                  {9, 0xFF}});
    auto& d = Make<ui::TfGlobalSetts>();
    Open(d);
    EXPECT_EQ(Get<QLineEdit>(d, "eHydroHitGlobal")->text(), QStringLiteral("2,55"));
    EXPECT_EQ(Get<QLineEdit>(d, "eAdrUtrkGlobal")->text(), QStringLiteral("255,254"));
    EXPECT_EQ(Get<QLineEdit>(d, "eAdrNaraGlobal")->text(), QStringLiteral("252,253,254,255"));
}

TEST_F(DialogsBoundaryTest, OpeningAndClosingWithoutEditsWritesNothing) {
    StartBus();
    for (const uint8_t pattern : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}}) {
        SCOPED_TRACE(std::to_string(pattern));
        FillParams(pattern);
        {
            auto lock = bus->Lock();
            for (int n = 0; n < kChannelCount; ++n)
                std::fill_n(Memory().begin() + ChannelAddress(addr::kChannelSettsBase, n),
                            setts::kLength, pattern);
        }
        const std::vector<uint8_t> before = Space();
        prompts->confirms = {};
        LeaveEveryFieldAndClose<ui::TfGlobalSetts>();
        LeaveEveryFieldAndClose<ui::TformDefSet>();
        const std::vector<uint8_t> after = Space();
        const auto [a, b] = std::mismatch(after.begin(), after.end(), before.begin());
        EXPECT_TRUE(a == after.end()) << "changed at 0x" << std::hex << (a - after.begin());
    }
}

} // namespace
} // namespace velmar::test
