// A saved image file as the controller of the window (--image, "Открыть образ…"), and the
// comparison of the controller with a file ("Сравнить с образом…").
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/image_file.h"
#include "data/image_file_store.h"
#include "gui_fixture.h"
#include "ui/dialogs/image_compare.h"
#include "ui/offline_image.h"
#include "ui/pages/page.h"

#include <QComboBox>
#include <QFile>

namespace velmar::test {
namespace {

class OfflineImageTest : public GuiTest {
  protected:
    // The simulated controller's image, read through the window's session into `path`.
    std::vector<uint8_t> SaveSimImage(const QString& path) {
        const std::string file = path.toStdString();
        EXPECT_EQ(session->Exchange([&] { return SaveDeviceImage(session->Store(), file); }),
                  kImageSaved);
        return Bytes(path);
    }
    std::vector<uint8_t> SimImage() {
        std::vector<uint8_t> image;
        EXPECT_EQ(session->Exchange([&] { return ReadDeviceImage(session->Store(), image); }),
                  kImageSaved);
        return image;
    }
    static std::vector<uint8_t> Bytes(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray b = f.readAll();
        return {b.begin(), b.end()};
    }
    static void Put(const QString& path, const std::vector<uint8_t>& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    // The window as `velmar --image path` starts it: false when the file was refused.
    bool StartWithImage(const QString& path) {
        if (window) window->close();
        NewSession();
        if (!ui::OpenOfflineImage(*session, nullptr, path)) return false;
        window = std::make_unique<ui::TVelmarMain>(*session);
        window->FormCreate();
        window->show();
        return true;
    }
    void Trigger(const char* action) { MenuAction(action)->trigger(); }
};

// Edited offline on "Настройки контроллера" and saved, then loaded into the simulator: the
// simulator differs from before in exactly that field.
TEST_F(OfflineImageTest, AnOfflineEditLoadedIntoTheControllerGivesItExactlyTheEditedImage) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("trk.bin"));
    const std::vector<uint8_t> original = SaveSimImage(path);

    ASSERT_TRUE(StartWithImage(path));
    EXPECT_TRUE(prompts->inputCaptions.isEmpty()); // no number query
    EXPECT_EQ(session->Slot(), 0);
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("trk.bin")));
    EXPECT_TRUE(session->Modes().demoMode && session->Modes().ctrlrIdentified);
    EXPECT_TRUE(IdentLines().first().contains(path));

    Tabs()->setCurrentWidget(window->PageByName(QStringLiteral("TabCtrlrSetts")));
    auto* speed2 = Find<QComboBox>("cbSpeed2CnlTrk");
    speed2->setFocus(Qt::MouseFocusReason);
    const int item = (speed2->currentIndex() + 1) % speed2->count();
    speed2->setCurrentIndex(item);
    emit speed2->activated(item);
    QTest::mouseClick(Find<QPushButton>("bSetParam"), Qt::LeftButton);
    const std::vector<uint8_t> edited = Bytes(path);
    // The edited field, its checksum, and what the tab itself puts right on reading (the NARA
    // addresses of a two-side topology the simulator leaves at 0): what a live save writes too.
    const auto offline = DiffImages(original, edited);
    const auto named = [](const std::vector<ImageDifference>& diffs) {
        std::vector<std::string> fields;
        for (const auto& d : diffs) fields.push_back(d.field);
        return fields;
    };
    ASSERT_FALSE(offline.empty());
    EXPECT_EQ(offline[0].field, "Speed2CnlTrk");
    EXPECT_EQ(offline.back().field, "Ksm");

    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(session->Modes().ctrlrIdentified) << IdentLines().join('|').toStdString();
    EXPECT_EQ(session->Exchange([&] {
        return WriteImageToController(session->Slot(), session->Address(), edited);
    }),
              kImageWritten);
    const std::vector<uint8_t> after = SimImage();
    EXPECT_TRUE(DiffImages(edited, after).empty());
    EXPECT_EQ(named(DiffImages(original, after)), named(offline));
}

// A damaged or truncated file is refused with the reason, from the command line and from the
// menu, and stays as it was.
TEST_F(OfflineImageTest, ADamagedOrTruncatedImageIsRefusedAndLeftAsItWas) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("bad.bin"));
    const std::vector<uint8_t> image = SaveSimImage(path);
    ASSERT_GT(image.size(), 100u);
    const std::vector<uint8_t> truncated(image.begin(), image.end() - 100);
    std::vector<uint8_t> damaged = image;
    damaged.at(3) = 0; // no channel settings
    for (const auto& bytes : {truncated, damaged}) {
        Put(path, bytes);
        EXPECT_FALSE(StartWithImage(path));
        ASSERT_EQ(prompts->messages.size(), 1);
        EXPECT_TRUE(prompts->messages[0].contains(path)) << prompts->messages[0].toStdString();
        EXPECT_EQ(Bytes(path), bytes);

        StartApp(QStringLiteral("1"));
        prompts->openNames.push_back(path);
        Trigger("menuOpenImage");
        EXPECT_EQ(prompts->messages.size(), 1);
        EXPECT_EQ(session->ImageFile(), nullptr);
        EXPECT_FALSE(session->Modes().demoMode);
        EXPECT_EQ(Bytes(path), bytes);
    }
}

// One price differs: the table names it; the controller's version saved into the file makes
// them equal, and the file's version written into the controller reaches the simulator.
TEST_F(OfflineImageTest, TheComparisonListsTheDifferenceAndTakesEitherSide) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("backup.bin"));
    const std::vector<uint8_t> original = SaveSimImage(path);
    std::vector<uint8_t> changed = original;
    const auto price = FindImageSpan(changed.data(), RecordKind::ChannelRegs, 0);
    ASSERT_TRUE(price.has_value());
    changed[static_cast<size_t>(price->offset + regs::kPrice.offset)] ^= 0x55;
    Put(path, changed);

    std::vector<std::vector<ImageDifference>> seen;
    prompts->onDialog = [&](QDialog& dialog) {
        auto* compare = qobject_cast<ui::TImageCompare*>(&dialog);
        ASSERT_NE(compare, nullptr);
        seen.push_back(compare->Differences());
        ScreenshotOf(dialog, QStringLiteral("image_compare"));
        if (seen.size() == 1)
            compare->bCtrlrToFileClick();
        else
            compare->bFileToCtrlrClick();
        seen.push_back(compare->Differences());
    };
    prompts->openNames.push_back(path);
    Trigger("menuCompareImage");
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[0].size(), 1u);
    EXPECT_EQ(seen[0][0].field, "Price");
    EXPECT_EQ(seen[0][0].index, 0);
    EXPECT_TRUE(seen[1].empty());
    EXPECT_EQ(Bytes(path), original);

    Put(path, changed);
    prompts->openNames.push_back(path);
    Trigger("menuCompareImage");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[3].empty()) << prompts->messages.join('|').toStdString();
    EXPECT_TRUE(DiffImages(changed, SimImage()).empty());
}

} // namespace
} // namespace velmar::test
