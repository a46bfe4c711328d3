// A saved image file as the controller of the window (--image, "Открыть образ…"), and the
// comparison of the controller with a file ("Сравнить с образом…").
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/image_file.h"
#include "data/image_file_store.h"
#include "data/make_block.h"
#include "gui_fixture.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/dialogs/image_compare.h"
#include "ui/offline_image.h"
#include "ui/pages/page.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableWidget>

namespace velmar::test {
namespace {

// How long a test waits for what the window does from its own loop: 200 steps of 10 ms.
constexpr int kPatienceSteps = 200;
constexpr int kPatienceStepMs = 10;

class OfflineImageTest : public GuiTest {
  protected:
    // The simulated controller's image, read through the window's session into `path`.
    std::vector<uint8_t> SaveSimImage(const QString& path) {
        const std::string file = path.toStdString();
        EXPECT_EQ(session->ExchangeFor([&] { return SaveDeviceImage(session->Store(), file); }),
                  ImageSaveResult::Saved);
        return Bytes(path);
    }
    std::vector<uint8_t> SimImage() {
        std::vector<uint8_t> image;
        EXPECT_EQ(session->ExchangeFor([&] { return ReadDeviceImage(session->Store(), image); }),
                  ImageSaveResult::Saved);
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
    // Chooses the row of the comparison whose caption is `caption`; false when there is none.
    static bool ChooseRow(ui::TImageCompare& compare, const std::string& caption) {
        const auto& diffs = compare.Differences();
        for (size_t i = 0; i < diffs.size(); ++i) {
            if (diffs[i].caption != caption) continue;
            compare.findChild<QTableWidget*>(QStringLiteral("tDiffs"))
                ->setCurrentCell(static_cast<int>(i), 0);
            return true;
        }
        return false;
    }
    static std::vector<std::string> Captions(const ui::TImageCompare& compare) {
        std::vector<std::string> captions;
        for (const ImageDifference& d : compare.Differences()) captions.push_back(d.caption);
        return captions;
    }
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
    EXPECT_TRUE(session->DemoMode() && session->Identified());
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
    ASSERT_TRUE(session->Identified()) << IdentLines().join('|').toStdString();
    EXPECT_EQ(session->ExchangeFor([&] {
        return WriteImageToController(session->Slot(), session->Address(), edited);
    }),
              ImageWriteResult::Written);
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
        EXPECT_FALSE(session->DemoMode());
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

// Another program replaced the image open in the window (an atomic rename of another
// controller's image): the save is refused with the reason, the replacement stays, and the
// window offers to open the file again, which then shows the replacement.
TEST_F(OfflineImageTest, ASaveOverAFileReplacedBehindTheWindowIsRefusedAndOffersToReopen) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("w2.bin"));
    const std::vector<uint8_t> original = SaveSimImage(path);
    std::vector<uint8_t> other = original;
    const auto params = FindImageSpan(other.data(), RecordKind::Params, 0);
    ASSERT_TRUE(params.has_value());
    other[static_cast<size_t>(params->offset + params::kAdrTrk_2.offset)] = 77;

    ASSERT_TRUE(StartWithImage(path));
    Tabs()->setCurrentWidget(window->PageByName(QStringLiteral("TabCtrlrSetts")));
    const QString replacement = TempPath(QStringLiteral("w2.new"));
    Put(replacement, other);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(replacement, path));

    auto* speed2 = Find<QComboBox>("cbSpeed2CnlTrk");
    speed2->setFocus(Qt::MouseFocusReason);
    const int item = (speed2->currentIndex() + 1) % speed2->count();
    speed2->setCurrentIndex(item);
    emit speed2->activated(item);
    prompts->confirms.push_back(true); // open the file again
    QTest::mouseClick(Find<QPushButton>("bSetParam"), Qt::LeftButton);
    // The question comes once the save's handler has returned, from the window's own loop.
    for (int i = 0; i < kPatienceSteps && prompts->confirmTexts.isEmpty(); ++i)
        QTest::qWait(kPatienceStepMs);
    ASSERT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_NE(Text("lIdentState"), QStringLiteral("Параметры успешно записаны"));
    EXPECT_EQ(Bytes(path), other);
    EXPECT_TRUE(prompts->confirmTexts[0].contains(QStringLiteral("изменен или заменен")))
        << prompts->confirmTexts[0].toStdString();
    EXPECT_TRUE(prompts->confirmTexts[0].contains(QStringLiteral("Открыть файл заново")));
    // Reopened: what the window holds is now the replacement.
    ASSERT_NE(session->ImageFile(), nullptr);
    EXPECT_EQ(session->ImageFile()->Image(), other);
    Tabs()->setCurrentWidget(window->PageByName(QStringLiteral("TabCtrlrSetts")));
    EXPECT_EQ(Find<QLineEdit>("eAdrTrk_2")->text(), QStringLiteral("77"));
}

// `velmar --image link.bin` where the name is a symbolic link: refused with the reason, and
// neither the link nor its target is touched.
TEST_F(OfflineImageTest, ASymbolicLinkIsRefusedAndLeftAsItWas) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString target = TempPath(QStringLiteral("target.bin"));
    const std::vector<uint8_t> image = SaveSimImage(target);
    const QString link = TempPath(QStringLiteral("link.bin"));
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_FALSE(StartWithImage(link));
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("символическая ссылка")))
        << prompts->messages[0].toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(Bytes(target), image);
}

// The file's make region holds 256 bytes, the make block its first 128. Writing the block
// leaves the row beyond it standing, and a row that lies only beyond the block is refused with
// the reason instead of reporting a match.
TEST_F(OfflineImageTest, TheComparisonKeepsTheMakeRegionBeyondTheBlock) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("make.bin"));
    std::vector<uint8_t> file = SaveSimImage(path);
    const auto make = FindImageSpan(file.data(), RecordKind::MakeBlock, 0);
    ASSERT_TRUE(make.has_value());
    constexpr int kBeyond = 200; // within the region, beyond the block
    file[static_cast<size_t>(make->offset + make::kStopTimeNara.offset)] ^= 0x03;
    file[static_cast<size_t>(make->offset + kBeyond)] ^= 0x5A;
    Put(path, file);
    const std::string stopTime = "Время ожидания остановки насоса";
    const std::string beyond = "байт " + std::to_string(kBeyond);

    std::vector<std::vector<std::string>> seen;
    prompts->onDialog = [&](QDialog& dialog) {
        auto* compare = qobject_cast<ui::TImageCompare*>(&dialog);
        ASSERT_NE(compare, nullptr);
        seen.push_back(Captions(*compare));
        ASSERT_TRUE(ChooseRow(*compare, beyond));
        compare->bFileToCtrlrClick();
        seen.push_back(Captions(*compare));
        ASSERT_TRUE(ChooseRow(*compare, stopTime));
        compare->bFileToCtrlrClick();
        seen.push_back(Captions(*compare));
        ScreenshotOf(dialog, QStringLiteral("image_compare_make"));
    };
    prompts->openNames.push_back(path);
    Trigger("menuCompareImage");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{stopTime, beyond}));
    EXPECT_EQ(seen[1], seen[0]); // refused: nothing changed
    ASSERT_EQ(prompts->messages.size(), 1);
    EXPECT_TRUE(prompts->messages[0].contains(QStringLiteral("только образом целиком")))
        << prompts->messages[0].toStdString();
    EXPECT_EQ(seen[2], std::vector<std::string>{beyond});
    // The controller holds the file's block, and the bytes beyond it as they were.
    const std::vector<uint8_t> now = SimImage();
    EXPECT_EQ(now[static_cast<size_t>(make->offset + make::kStopTimeNara.offset)],
              file[static_cast<size_t>(make->offset + make::kStopTimeNara.offset)]);
    EXPECT_NE(now[static_cast<size_t>(make->offset + kBeyond)],
              file[static_cast<size_t>(make->offset + kBeyond)]);
}

// A file whose parameter block has another line speed and side-A number: the block goes in as
// "Сохранить настройки" sends it, so the window follows the controller to its new speed and
// number and finds it again once the comparison is closed.
TEST_F(OfflineImageTest, TheComparisonWritesANewSpeedAndNumberAndFollowsTheController) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("params.bin"));
    std::vector<uint8_t> file = SaveSimImage(path);
    const auto block = FindImageSpan(file.data(), RecordKind::Params, 0);
    ASSERT_TRUE(block.has_value());
    uint8_t* params = file.data() + block->offset;
    constexpr uint8_t kNewSpeed = 2; // 9600
    constexpr uint8_t kNewNumber = 9;
    ASSERT_NE(params[params::kSpeedTrk.offset], kNewSpeed);
    params[params::kSpeedTrk.offset] = kNewSpeed;
    params[params::kAdrTrk_1.offset] = kNewNumber;
    params[params::kCountSideTrk.offset] = 1; // the new number is probed first
    params[block->length - 1] = ChecksumRot8(params, static_cast<size_t>(block->length - 1));
    Put(path, file);

    prompts->onDialog = [&](QDialog& dialog) {
        auto* compare = qobject_cast<ui::TImageCompare*>(&dialog);
        ASSERT_NE(compare, nullptr);
        ASSERT_TRUE(ChooseRow(*compare, "Скорость обмена по 485 интерфейсу, 1 канал"));
        compare->bFileToCtrlrClick();
        ScreenshotOf(dialog, QStringLiteral("image_compare_params"));
    };
    prompts->openNames.push_back(path);
    Trigger("menuCompareImage");
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join('|').toStdString();
    {
        auto lock = sim->Lock();
        ASSERT_NE(sim->Find(kNewNumber), nullptr);
        EXPECT_EQ(sim->Find(kNewNumber)->LineBaud(), 9600u);
    }
    EXPECT_EQ(session->Line().baud, 9600u);
    EXPECT_EQ(session->Address(), kNewNumber);
    EXPECT_TRUE(session->Identified()) << IdentLines().join('|').toStdString();
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №9"));
}

// Factory defaults over an image file would replace a controller's backup whole: the button is
// off, and its hint says why.
TEST_F(OfflineImageTest, FactoryDefaultsAreOffOverAnImageFileWithTheReason) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    EXPECT_TRUE(Enabled("bGlobalDefaultSet"));
    const QString path = TempPath(QStringLiteral("backup.bin"));
    SaveSimImage(path);
    ASSERT_TRUE(StartWithImage(path));
    auto* defaults = Find<QPushButton>("bGlobalDefaultSet");
    EXPECT_FALSE(defaults->isEnabled());
    EXPECT_TRUE(defaults->toolTip().contains(QStringLiteral("Открытый файл образа")))
        << defaults->toolTip().toStdString();
}

} // namespace
} // namespace velmar::test
