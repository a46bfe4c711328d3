// The read retry count the window takes from its own settings file at start.
#include "protocol/read_retry.h"
#include "ui/read_retry_setting.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmar::ui {
namespace {

TEST(ReadRetrySetting, TakenFromTheSettingsFileWhenItIsAWholeNumberInRange) {
    struct Case {
        const char* line; // of the [exchange] group; nullptr: no such line
        int retries;      // in force afterwards
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, kDefaultReadRetries, false},
        {"read_retries=0", 0, false},
        {"read_retries= 5 ", 5, false},
        {"read_retries=11", kDefaultReadRetries, true},
        {"read_retries=-1", kDefaultReadRetries, true},
        {"read_retries=два", kDefaultReadRetries, true},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line != nullptr ? c.line : "(none)");
        const QString path = dir.filePath(QStringLiteral("velmar.ini"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[exchange]\n");
        if (c.line != nullptr) file.write(QByteArray(c.line) + "\n");
        file.close();
        const QString complaint = ApplyReadRetrySetting(QSettings(path, QSettings::IniFormat));
        EXPECT_EQ(WindowReadRetries(), c.retries);
        EXPECT_EQ(!complaint.isEmpty(), c.complaint) << complaint.toStdString();
    }
}

} // namespace
} // namespace velmar::ui
