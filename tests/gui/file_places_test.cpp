// Where the window keeps com.ini, port.out and the demo image; demo mode reads and writes only the
// demo image of its own place.
#include "data/demo_store.h"
#include "gui_fixture.h"
#include "ui/file_places.h"
#include "ui/pages/page.h"

#include <QFile>
#include <QLineEdit>

namespace velmar::test {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void PlaceShippedImage(const QString& path) {
    const QString shipped = qEnvironmentVariable("VELMAR_SOURCE_DIR") + "/demo_trk.bin";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_TRUE(QFile::copy(shipped, path)) << shipped.toStdString();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

TEST(FilePlaces, InstalledOnlyInAPrefixBinFolderOutsideTheBuildTree) {
    for (const auto& [dir, installed] :
         std::vector<std::pair<const char*, bool>>{{"/usr/bin", true},
                                                   {"/opt/velmar/bin", true},
                                                   {"/work/b/app", false},
                                                   {"/work/b/bin", false},
                                                   {"/home/e/velmar", false},
                                                   {"/work/b-bin", false}})
        EXPECT_EQ(ui::IsInstalledProgram(QLatin1String(dir), "/work/b"), installed) << dir;
}

class PlacesTest : public GuiTest {
  protected:
    void TearDown() override {
        GuiTest::TearDown();
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
    }
    // A settings write in demo mode changes the image of `places` and not `other`.
    void WriteSettingsInDemoMode(const ui::FilePlaces& places, const QString& other) {
        const QByteArray otherBefore = ReadAll(other);
        demoMode = true;
        demoImagePath = places.demoImage;
        StartSim({1});
        StartApp(QStringLiteral("1"));
        ASSERT_TRUE(session->Identified());
        Tabs()->setCurrentWidget(window->PageByName("TabCtrlrSetts"));
        auto* edit = Find<QLineEdit>("eMetTOut");
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QStringLiteral("42\t"));
        QTest::mouseClick(Find<QPushButton>("bSetParam"), Qt::LeftButton);
        EXPECT_EQ(Text("lIdentState"), QStringLiteral("Параметры успешно записаны"));
        EXPECT_EQ(ReadAll(places.demoImage).at(demo::kParamsOffset + 27), 42);
        EXPECT_EQ(ReadAll(other), otherBefore);
    }
};

TEST_F(PlacesTest, FromABuildTreeOnlyTheWorkingDirectoryCounts) {
    const QString besideProgram = TempPath(QStringLiteral("build/app/demo_trk.bin"));
    PlaceShippedImage(besideProgram);
    const ui::FilePlaces places = ui::ChooseFilePlaces(TempPath(QStringLiteral("build/app")));
    ASSERT_FALSE(places.installed);
    EXPECT_EQ(places.comIni, QStringLiteral("com.ini"));

    // No image in the working directory: the no-file case, whatever lies beside the program.
    demoMode = true;
    demoImagePath = places.demoImage;
    StartSim({1});
    StartApp(QStringLiteral("1"));
    EXPECT_FALSE(session->Identified());
    EXPECT_TRUE(Find<QPlainTextEdit>("mIdent")->toPlainText().isEmpty());
    EXPECT_TRUE(prompts->messages.isEmpty());
    EXPECT_FALSE(Enabled("bGlobalDefaultSet"));
    window->close();
    sim->Stop();

    PlaceShippedImage(QStringLiteral("demo_trk.bin"));
    WriteSettingsInDemoMode(places, besideProgram);
}

TEST_F(PlacesTest, InstalledTheUsersFoldersWithASeededImage) {
    qputenv("XDG_CONFIG_HOME", TempPath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", TempPath(QStringLiteral("data")).toUtf8());
    const QString shipped = TempPath(QStringLiteral("usr/share/velmar/demo_trk.bin"));
    PlaceShippedImage(shipped);
    const ui::FilePlaces places = ui::ChooseFilePlaces(TempPath(QStringLiteral("usr/bin")));
    ASSERT_TRUE(places.installed);
    EXPECT_EQ(places.demoImage, TempPath(QStringLiteral("data/velmar/demo_trk.bin")));
    EXPECT_EQ(places.comIni, TempPath(QStringLiteral("config/velmar/com.ini")));
    EXPECT_EQ(places.exchangeLog, TempPath(QStringLiteral("data/velmar/port.out")));

    ASSERT_EQ(ui::PrepareFilePlaces(places, true), QString());
    EXPECT_EQ(ReadAll(places.demoImage), ReadAll(shipped));
    WriteSettingsInDemoMode(places, shipped);
    // A later start keeps the user's image.
    const QByteArray written = ReadAll(places.demoImage);
    ASSERT_EQ(ui::PrepareFilePlaces(places, true), QString());
    EXPECT_EQ(ReadAll(places.demoImage), written);
}

} // namespace
} // namespace velmar::test
