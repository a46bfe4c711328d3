// Saving the controller's image to a file and writing it back through the main-tab buttons.
#include "data/journal.h"
#include "data/memory_map.h"
#include "gui_fixture.h"

#include <QFile>
#include <QProgressBar>

namespace velmar::test {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(GuiTest, ImageSaveAndLoadRoundTripThroughTheButtons) {
    StartSim({1}, 2);
    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(session->Identified());
    std::vector<uint8_t> original;
    {
        auto lock = sim->Lock();
        original = sim->Find(1)->ImageBytes();
    }

    auto* bar = Find<QProgressBar>("progrImage");
    QList<int> barValues;
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int v) {
        barValues << v;
        if (barValues.size() == 20) Screenshot(QStringLiteral("image-saving"));
    });

    const QString path = TempPath(QStringLiteral("backup.bin"));
    prompts->saveNames.push_back(path);
    QTest::mouseClick(Find<QPushButton>("bSaveImage"), Qt::LeftButton);
    EXPECT_EQ(prompts->fileTitles.value(0),
              QStringLiteral("Выберите файл для записи образа контроллера"));
    EXPECT_EQ(prompts->messages, QStringList{QStringLiteral("Образ контроллера успешно сохранен")});
    const QByteArray saved = ReadAll(path);
    EXPECT_EQ(saved.size(), 1810); // the usual sizes
    EXPECT_EQ(saved, QByteArray(reinterpret_cast<const char*>(original.data()),
                                static_cast<qsizetype>(original.size())));
    EXPECT_GT(barValues.size(), 30); // the bar moved record by record
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(session->ImageTransferIdle());

    // Change the controller, then write the saved image back.
    {
        auto lock = sim->Lock();
        auto& er = sim->Find(1)->Space(0);
        er[0x1000 + 3] ^= 0x5A;
        er[0x2000 + 0x100 + 7] ^= 0x33;
    }
    prompts->messages.clear();
    barValues.clear();
    prompts->openNames.push_back(path);
    prompts->confirms.push_back(true);
    QTest::mouseClick(Find<QPushButton>("bLoadImage"), Qt::LeftButton);
    EXPECT_EQ(prompts->confirmTexts.value(0),
              QStringLiteral("Образ считан, записать его в контроллер"));
    EXPECT_EQ(prompts->messages, QStringList{QStringLiteral("Образ успешно записан в контроллер")});
    EXPECT_GE(barValues.size(), 7); // at least once per record group
    {
        auto lock = sim->Lock();
        EXPECT_EQ(sim->Find(1)->ImageBytes(), original);
        EXPECT_GE(sim->Find(1)->restarts, 1);
    }
    // Each record of the load was entered before it was sent and answered after (the load
    // identifies first, so the copies read before are not taken for old values).
    std::string error;
    const auto journal = Journal::OpenExisting(session->Options().journalPath, error);
    ASSERT_NE(journal, nullptr) << error;
    const auto entries = journal->List({}, error);
    ASSERT_FALSE(entries.empty());
    bool setts0 = false, regs1 = false;
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.outcome, kOutcomeWritten);
        setts0 = setts0 || (e.recordKind == "ChannelSetts" && e.recordIndex == 0);
        regs1 = regs1 || (e.recordKind == "ChannelRegs" && e.recordIndex == 1);
    }
    EXPECT_TRUE(setts0);
    EXPECT_TRUE(regs1);
    // The load asks for identification again at once.
    EXPECT_FALSE(session->AnyReidentRequested());
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №1"));
    Screenshot(QStringLiteral("image-done"));
}

TEST_F(GuiTest, FailedSaveKeepsTheEarlierFileAndSaysSo) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("old.bin"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier image");
    }
    {
        auto lock = sim->Lock();
        sim->GetFaults().dropReplies = 1000; // the link dies after identification
    }
    prompts->saveNames.push_back(path);
    // Identification runs first and fails: nothing is asked, the file stays as it was.
    QTest::mouseClick(Find<QPushButton>("bSaveImage"), Qt::LeftButton);
    EXPECT_EQ(prompts->messages, QStringList{QStringLiteral("Нет связи с устройством")});
    EXPECT_EQ(ReadAll(path), QByteArray("earlier image"));
}

// The controller refuses a record half-way: the box names what the controller now holds, never
// that it was left unchanged.
TEST_F(GuiTest, PartialImageLoadNamesTheRecordsWrittenAndThoseNot) {
    StartSim({1}, 2);
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("part.bin"));
    prompts->saveNames.push_back(path);
    QTest::mouseClick(Find<QPushButton>("bSaveImage"), Qt::LeftButton);
    ASSERT_EQ(prompts->messages, QStringList{QStringLiteral("Образ контроллера успешно сохранен")});
    {
        auto lock = sim->Lock();
        sim->GetFaults().writeStatusAddress = addr::kSideStateA;
    }
    prompts->messages.clear();
    prompts->openNames.push_back(path);
    prompts->confirms.push_back(true);
    QTest::mouseClick(Find<QPushButton>("bLoadImage"), Qt::LeftButton);
    ASSERT_EQ(prompts->messages.size(), 1);
    const QString text = prompts->messages.front();
    EXPECT_FALSE(text.contains(QStringLiteral("контроллер не изменен"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Записаны: параметры контроллера, настройки каналов")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Не записаны: состояние стороны А")))
        << text.toStdString();
}

TEST_F(GuiTest, ImageWithABadHeaderIsRefusedSilently) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    const QString path = TempPath(QStringLiteral("bad.bin"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromHex("3A02000013004500")); // header byte 2 is 0
    }
    prompts->openNames.push_back(path);
    QTest::mouseClick(Find<QPushButton>("bLoadImage"), Qt::LeftButton);
    EXPECT_TRUE(prompts->messages.isEmpty());
    EXPECT_TRUE(prompts->confirmTexts.isEmpty());
    EXPECT_TRUE(session->ImageTransferIdle());
}

} // namespace
} // namespace velmar::test
