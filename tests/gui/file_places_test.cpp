// Where the window keeps com.ini, port.out and the demo image, and that demo mode reads and writes
// only the demo image of its own place.
#include "data/demo_store.h"
#include "gui_fixture.h"
#include "link/serial_port.h"
#include "ui/file_places.h"
#include "ui/page.h"

#include <QFile>
#include <QLineEdit>

namespace velmar::test {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString ShippedImage() {
    return qEnvironmentVariable("VELMAR_SOURCE_DIR") + QStringLiteral("/demo_trk.bin");
}

// Puts a copy of the shipped image at `path`, making its folder.
void PlaceImage(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_TRUE(QFile::copy(ShippedImage(), path)) << ShippedImage().toStdString();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

TEST(FilePlaces, InstalledOnlyInAPrefixBinFolderOutsideTheBuildTree) {
    const QString build = QStringLiteral("/work/velmar/build");
    struct Case {
        const char* programDir;
        bool installed;
    };
    for (const Case& c :
         {Case{"/usr/bin", true}, Case{"/usr/local/bin", true}, Case{"/opt/velmar/bin", true},
          Case{"/work/velmar/build/app", false}, Case{"/work/velmar/build/bin", false},
          Case{"/home/e/velmar", false}, Case{"/work/velmar/build-bin", false}})
        EXPECT_EQ(ui::IsInstalledProgram(QLatin1String(c.programDir), build), c.installed)
            << c.programDir;
}

class PlacesTest : public GuiTest {
  protected:
    // Demo mode reads the image of its place and writes settings only there: an image in the
    // program's folder (or the installed one) is neither read nor changed.
    void WriteSettingsInDemoMode(const ui::FilePlaces& places, const QString& otherImage) {
        const QByteArray otherBefore = ReadAll(otherImage);
        ASSERT_FALSE(otherBefore.isEmpty());
        demoMode = true;
        demoImagePath = places.demoImage;
        StartSim({1});
        StartApp(QStringLiteral("1"));
        ASSERT_TRUE(session->ctrlrIdentified);
        Tabs()->setCurrentIndex(Tabs()->indexOf(window->PageByName("TabCtrlrSetts")));
        auto* edit = Find<QLineEdit>("eMetTOut");
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QStringLiteral("42"));
        QTest::keyClick(edit, Qt::Key_Tab);
        QTest::mouseClick(Find<QPushButton>("bSetParam"), Qt::LeftButton);
        EXPECT_EQ(Text("lIdentState"), QStringLiteral("Параметры успешно записаны"));
        EXPECT_EQ(static_cast<uint8_t>(ReadAll(places.demoImage).at(demo::kParamsOffset + 27)), 42);
        EXPECT_EQ(ReadAll(otherImage), otherBefore);
    }
};

// An installed program keeps its files in the user's folders and seeds the demo image there
// once from the installed copy, which it never writes.
class InstalledPlacesTest : public PlacesTest {
  protected:
    void SetUp() override {
        PlacesTest::SetUp();
        for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "VELMAR_LOG_DIR"})
            saved_.push_back({var, qgetenv(var)});
        qputenv("XDG_CONFIG_HOME", TempPath(QStringLiteral("cfg")).toUtf8());
        qputenv("XDG_DATA_HOME", TempPath(QStringLiteral("data")).toUtf8());
        qunsetenv("VELMAR_LOG_DIR");
    }
    void TearDown() override {
        PlacesTest::TearDown();
        for (const auto& [var, value] : saved_)
            value.isNull() ? qunsetenv(var) : qputenv(var, value);
        SetExchangeLogPath(nullptr);
    }

  private:
    std::vector<std::pair<const char*, QByteArray>> saved_;
};

TEST_F(InstalledPlacesTest, UserFoldersAndASeededDemoImage) {
    const QString prefix = TempPath(QStringLiteral("usr"));
    const QString shipped = prefix + QStringLiteral("/share/velmar/demo_trk.bin");
    PlaceImage(shipped);
    const ui::FilePlaces places = ui::ChooseFilePlaces(prefix + QStringLiteral("/bin"));
    ASSERT_TRUE(places.installed);
    EXPECT_EQ(places.comIni, TempPath(QStringLiteral("cfg/velmar/com.ini")));
    EXPECT_EQ(places.exchangeLog, TempPath(QStringLiteral("data/velmar/port.out")));
    EXPECT_EQ(places.demoImage, TempPath(QStringLiteral("data/velmar/demo_trk.bin")));
    EXPECT_EQ(places.shippedDemoImage, shipped);

    // Not in demo mode: the folders, but no image.
    EXPECT_EQ(ui::PrepareFilePlaces(places, false), QString());
    EXPECT_TRUE(QFileInfo(TempPath(QStringLiteral("cfg/velmar"))).isDir());
    EXPECT_FALSE(QFile::exists(places.demoImage));
    // The first demo start copies the installed image; later ones keep the user's.
    EXPECT_EQ(ui::PrepareFilePlaces(places, true), QString());
    EXPECT_EQ(ReadAll(places.demoImage), ReadAll(shipped));
    QFile user(places.demoImage);
    ASSERT_TRUE(user.open(QIODevice::WriteOnly | QIODevice::Append));
    user.write("x");
    user.close();
    EXPECT_EQ(ui::PrepareFilePlaces(places, true), QString());
    EXPECT_EQ(ReadAll(places.demoImage).size(), ReadAll(shipped).size() + 1);
}

TEST_F(PlacesTest, DemoModeUsesTheImageInTheWorkingDirectoryOnly) {
    // A program run from a build tree, with an image beside it.
    const QString programDir = TempPath(QStringLiteral("build/app"));
    PlaceImage(programDir + QStringLiteral("/demo_trk.bin"));
    const ui::FilePlaces places = ui::ChooseFilePlaces(programDir);
    ASSERT_FALSE(places.installed);
    EXPECT_EQ(places.comIni, QStringLiteral("com.ini"));
    EXPECT_EQ(ui::PrepareFilePlaces(places, true), QString());
    EXPECT_FALSE(QFile::exists(QStringLiteral("demo_trk.bin")));

    // None in the working directory: the no-file case, whatever lies elsewhere.
    demoMode = true;
    demoImagePath = places.demoImage;
    StartSim({1});
    StartApp(QStringLiteral("1"));
    EXPECT_FALSE(session->ctrlrIdentified);
    EXPECT_TRUE(Find<QPlainTextEdit>("mIdent")->toPlainText().isEmpty());
    EXPECT_TRUE(prompts->messages.isEmpty());
    for (const char* b : {"bReset", "bGlobalDefaultSet", "bSaveParamToText", "bLoadFisk"})
        EXPECT_FALSE(Enabled(b)) << b;
    window->close();
    sim->Stop();
    sim.reset();

    PlaceImage(QStringLiteral("demo_trk.bin"));
    WriteSettingsInDemoMode(places, programDir + QStringLiteral("/demo_trk.bin"));
}

TEST_F(InstalledPlacesTest, DemoModeOfAnInstalledProgramWritesTheUsersImage) {
    const QString prefix = TempPath(QStringLiteral("usr"));
    const QString shipped = prefix + QStringLiteral("/share/velmar/demo_trk.bin");
    PlaceImage(shipped);
    const ui::FilePlaces places = ui::ChooseFilePlaces(prefix + QStringLiteral("/bin"));
    ASSERT_EQ(ui::PrepareFilePlaces(places, true), QString());
    WriteSettingsInDemoMode(places, shipped);
}

} // namespace
} // namespace velmar::test
