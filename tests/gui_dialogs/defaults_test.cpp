// The factory defaults dialog: the topology the engineer sets, its address rules, the live write
// with the address follow-up, and the demo image write.
#include "dialogs_fixture.h"
#include "ui/dialogs/def_set.h"
#include "ui/fields/field_grid.h"
#include "ui/fields/warning_texts.h"

#include <QPlainTextEdit>

namespace velmar::test {
namespace {

constexpr int kMaskAt = addr::kMakeBlock;

class DefaultsTest : public DialogsTest {
  protected:
    ui::TformDefSet& OpenDefaults() {
        auto& d = Make<ui::TformDefSet>();
        Open(d);
        return d;
    }
    static ui::FieldGrid* Grid(QWidget& d, int side) {
        return Get<ui::FieldGrid>(d, side == 0 ? "sgAdrNaraTrk1_DS" : "sgAdrNaraTrk2_DS");
    }
    static QPushButton* WriteButton(QWidget& d) { return Get<QPushButton>(d, "bSaveParam_DS"); }
    static void TypeCell(ui::FieldGrid* grid, int column, const QString& text) {
        const QRect cell = grid->visualRect(grid->model()->index(0, column));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        Type(text);
        QTest::keyClick(Focus(), Qt::Key_Return);
    }
};

// Each topology is written to a controller answering at 7; the image gives side A address 1, so
// the session goes on with 1.
TEST_F(DefaultsTest, WritesTheTopologyAndFollowsTheNewAddress) {
    constexpr uint8_t N = 255;
    struct Case {
        const char* sides;
        const char* nozzles;
        std::vector<uint8_t> map; // bytes 35..50: rows of (side A, side B)
        uint8_t mask;
        uint8_t sideB;
    } cases[] = {
        {"2 стороны", "4", {0, 4, 1, 5, 2, 6, 3, 7, N, N, N, N, N, N, N, N}, 0xFF, 2},
        {"1 сторона", "2", {0, 1, N, N, N, N, N, N, N, N, N, N, N, N, N, N}, 0x03, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sides);
        sim::Options options;
        options.addresses = {7};
        StartBus(options);
        SetSimBytes(RegsAt(0) + 46, {1, 2, 3, 4, 5}, 7); // a fiscal totaliser
        auto& d = OpenDefaults();
        Choose(Get<QComboBox>(d, "cbCountSize_DS"), U(c.sides));
        Choose(Get<QComboBox>(d, "cbCountNoz_DS"), U(c.nozzles));
        EXPECT_EQ(Get<QWidget>(d, "gbTrk2_DS")->isVisible(), c.sideB != 0);
        ASSERT_TRUE(WriteButton(d)->isEnabled());
        Click(WriteButton(d));

        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(session->Address(), 1);
        EXPECT_TRUE(session->AnyReidentRequested());
        EXPECT_EQ(Restarts(1), 1);
        EXPECT_EQ(SimBytes(addr::kParams + 35, 16, 1), c.map);
        EXPECT_EQ(SimParam(2, 1), 1);
        EXPECT_EQ(SimParam(3, 1), c.sideB);
        EXPECT_EQ(SimBytes(kMaskAt, 2, 1), std::vector<uint8_t>({c.mask, 0}));
        EXPECT_EQ(SimByte(kMaskAt + 24, 1), 15);
        EXPECT_EQ(SimBytes(RegsAt(0) + 46, 5, 1), std::vector<uint8_t>(5, 0));
        TearDown();
        dialogs.clear();
        bus.reset();
    }
}

TEST_F(DefaultsTest, EqualSideAddressesHoldTheWriteUntilOneChanges) {
    StartBus();
    auto& d = OpenDefaults();
    auto* sideA = Get<QLineEdit>(d, "eAdrTrk1_DS");
    TypeInto(sideA, QStringLiteral("2"));
    EXPECT_TRUE(ui::IsMarked(sideA));
    EXPECT_FALSE(WriteButton(d)->isEnabled());
    TypeInto(sideA, QStringLiteral("3"));
    EXPECT_FALSE(ui::IsMarked(sideA));
    EXPECT_TRUE(WriteButton(d)->isEnabled());
    // Mended from the other field: both clear.
    auto* sideB = Get<QLineEdit>(d, "eAdrTrk2_DS");
    TypeInto(sideA, QStringLiteral("2"));
    TypeInto(sideB, QStringLiteral("4"));
    EXPECT_FALSE(ui::IsMarked(sideA));
    EXPECT_FALSE(ui::IsMarked(sideB));
    EXPECT_TRUE(WriteButton(d)->isEnabled());

    // With one side, side B's hidden address is no longer compared.
    Choose(Get<QComboBox>(d, "cbCountSize_DS"), U("1 сторона"));
    TypeInto(sideA, QStringLiteral("2"));
    EXPECT_TRUE(WriteButton(d)->isEnabled());
}

TEST_F(DefaultsTest, ChannelCellsRefuseDuplicatesAndShowTheirValueWhenEmptied) {
    StartBus();
    auto& d = OpenDefaults();
    ui::FieldGrid* a = Grid(d, 0);
    TypeCell(a, 0, QStringLiteral("6")); // side B's second channel has 6
    EXPECT_TRUE(ui::IsMarked(a));
    EXPECT_FALSE(WriteButton(d)->isEnabled());
    TypeCell(Grid(d, 1), 1, QStringLiteral("9"));
    EXPECT_FALSE(ui::IsMarked(a)); // the fault mended in the other grid clears this one too
    EXPECT_TRUE(WriteButton(d)->isEnabled());

    Click(a->viewport());
    a->SetCell(2, QString());
    Click(Get<QLineEdit>(d, "eAdrTrk1_DS"));
    EXPECT_EQ(a->Cell(2), QStringLiteral("3"));
    EXPECT_EQ(d.Topology().naraAddresses, std::vector<int>({6, 2, 3, 4, 5, 9, 7, 8}));
}

TEST_F(DefaultsTest, DemoWriteReplacesTheImageFile) {
    StartDemo();
    auto& d = OpenDefaults();
    Choose(Get<QComboBox>(d, "cbTypeTrk"), U("Нара"));
    Screenshot(d, QStringLiteral("factory_defaults"));
    EXPECT_EQ(Get<QPlainTextEdit>(d, "mParamTrk_DS")->toPlainText().split(QLatin1Char('\n'))[1],
              U("100 импульсов на литр, с пересчетом по двум фазам."));
    Choose(Get<QComboBox>(d, "cbCountNoz_DS"), QStringLiteral("3"));
    Click(WriteButton(d));
    EXPECT_FALSE(d.isVisible());

    QFile file(demoPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    ASSERT_EQ(image.size(), 7 + DeviceBuffer::kLength);
    EXPECT_EQ(image.left(7), QByteArray("\x3a\x03\x02\x13\x00\x45\x0c", 7));
    const QByteArray params = image.mid(7, 58);
    EXPECT_EQ(params[23], 1);    // PhaseMet
    EXPECT_EQ(params[30], 0x02); // TrkModes 0x1402
    EXPECT_EQ(params[34], 3);    // TypeTbl
    // The demo store serves the new image.
    uint8_t block[256] = {};
    ASSERT_GT(session->Store().Read(addr::kParamsLength, -1, block).Length(), 0);
    EXPECT_EQ(block[4], 3);
}

// Over a saved image file (--image) the main tab's button is off, and the dialog refuses on its
// own as well, with the reason: the file is one controller's backup, kept byte for byte.
TEST_F(DefaultsTest, RefusesOverAnImageFileAndLeavesItByteForByte) {
    const QString path = dir.filePath(QStringLiteral("backup.bin"));
    ASSERT_EQ(sim::Controller::MakeDefault(1)->SaveImageFile(path.toStdString()), 0);
    const auto bytes = [&path] {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    const QByteArray before = bytes();
    NewSession();
    const ui::SessionResult opened = session->OpenImage(path.toStdString());
    ASSERT_TRUE(opened.Ok()) << opened.text.toStdString();
    session->SetAddress(1);
    auto& d = OpenDefaults();
    ASSERT_TRUE(WriteButton(d)->isEnabled());
    Click(WriteButton(d));
    EXPECT_EQ(prompts->messages, QStringList({U(ui::kDefaultsNotForImageFile)}));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(bytes(), before);
}

} // namespace
} // namespace velmar::test
