// The service tabs on a copy of the demo image: the records it holds are read and written there,
// the rest shows the demo texts.
#include "data/demo_store.h"
#include "data/dump_layout.h"
#include "svc_fixture.h"
#include "ui/pages/tab_adv_set.h"
#include "ui/pages/tab_dump.h"
#include "ui/pages/tab_regs_sides.h"

#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>

namespace velmar::test {
namespace {

class SvcDemoTest : public SvcTest {
  protected:
    void SetUp() override {
        path = CopyDemoImage();
        StartDemo(path.toStdString());
    }
    uint8_t ImageByte(int offset) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return static_cast<uint8_t>(file.readAll().at(offset));
    }

    QString path;
};

TEST_F(SvcDemoTest, TheAdvancedTabEditsTheImage) {
    Make<ui::TabAdvSet>();
    Show();
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    Enter("eStopTimeNara", "9");
    Enter("eMinSpeed", "17");
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U("Параметры успешно записаны"));
    EXPECT_EQ(ImageByte(demo::kMakeOffset + 19), 9);
    EXPECT_EQ(ImageByte(demo::kParamsOffset + 53), 17);
}

TEST_F(SvcDemoTest, SideStatesAndTheDumpSpeakOfTheDemo) {
    Make<ui::TabRegsSides>();
    Show();
    EXPECT_EQ(status, U("Состояния первой и второй стороны считаны"));
    EXPECT_TRUE(prompts->messages.isEmpty());

    Make<ui::TabDump>();
    Enter("eAdresDump", "0");
    Enter("eCountByteDump", "20");
    Click("bReadDump");
    EXPECT_EQ(Get<QTableWidget>("sg1")->rowCount(), 2);
    EXPECT_TRUE(Button("bWriteDump")->isEnabled());
    Click("bWriteDump");
    EXPECT_EQ(status, U("Демонстарционная версия программы"));
    // A count of 0 reads nothing and offers nothing to write.
    Enter("eCountByteDump", "0");
    Click("bReadDump");
    EXPECT_EQ(Get<QTableWidget>("sg1")->rowCount(), 0);
    EXPECT_FALSE(Button("bWriteDump")->isEnabled());
}

} // namespace
} // namespace velmar::test
