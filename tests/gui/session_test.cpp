// The session's state as its methods say it: the number in use and "identified" are the model's,
// and every failure answers with its code and the reason.
#include "gui_common/session_support.h"
#include "ui/session.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

TEST(Session, TheNumberAndTheIdentificationAreTheModels) {
    struct Case {
        const char* what;
        std::function<void(ui::Session&)> act;
        int address;
        bool identifiedLive;
        bool identifiedDemo;
        bool recordsKept;
    };
    const std::vector<Case> cases = {
        {"the same number again", [](ui::Session& s) { s.SetAddress(5); }, 5, true, true, true},
        {"another number", [](ui::Session& s) { s.SetAddress(6); }, 6, false, true, false},
        {"the controller forgotten", [](ui::Session& s) { s.ForgetController(); }, 5, false, true,
         false},
        {"identification failed", [](ui::Session& s) { s.MarkNotIdentified(); }, 5, false, false,
         false},
    };
    for (const bool demo : {false, true}) {
        for (const Case& c : cases) {
            ui::Session session;
            if (demo) session.EnterDemo();
            session.SetAddress(5);
            EXPECT_FALSE(session.Identified());
            session.MarkIdentified("ТРК 5");
            session.Model().Params().Take(CtrlrParams{});
            c.act(session);
            const std::string what = std::string(c.what) + (demo ? " (demo)" : "");
            EXPECT_EQ(session.Address(), c.address) << what;
            EXPECT_EQ(session.Model().Identity().address, c.address) << what;
            EXPECT_EQ(session.Identified(), demo ? c.identifiedDemo : c.identifiedLive) << what;
            EXPECT_EQ(session.Model().Params().wasRead, c.recordsKept) << what;
        }
    }
}

TEST(Session, AFailureAnswersWithItsCodeAndTheReason) {
    QTemporaryDir dir;
    const QString empty = dir.filePath(QStringLiteral("empty.bin"));
    QFile file(empty);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const std::string missing = dir.filePath(QStringLiteral("missing.bin")).toStdString();

    struct Case {
        const char* what;
        std::function<ui::SessionResult(ui::Session&)> act;
        ui::SessionCode code;
    };
    const std::vector<Case> cases = {
        {"no demo image",
         [&](ui::Session& s) {
             Reconfigure(s, [&](ui::SessionOptions& o) { o.demoImagePath = missing; });
             return s.OpenDemoImage();
         },
         ui::SessionCode::DemoCannotOpen},
        {"an empty demo image",
         [&](ui::Session& s) {
             Reconfigure(s, [&](ui::SessionOptions& o) { o.demoImagePath = empty.toStdString(); });
             return s.OpenDemoImage();
         },
         ui::SessionCode::DemoBadLength},
        {"a file that is no image",
         [&](ui::Session& s) { return s.OpenImage(empty.toStdString()); },
         ui::SessionCode::ImageRefused},
    };
    for (const Case& c : cases) {
        ui::Session session;
        const ui::SessionResult result = c.act(session);
        EXPECT_FALSE(result.Ok()) << c.what;
        EXPECT_EQ(result.code, c.code) << c.what;
        EXPECT_FALSE(result.text.isEmpty()) << c.what;
        // Nothing changed: no image stands in for a controller.
        EXPECT_FALSE(session.Identified()) << c.what;
        EXPECT_FALSE(session.DemoMode()) << c.what;
        EXPECT_EQ(session.ImageFile(), nullptr) << c.what;
    }
}

} // namespace
} // namespace velmar::test
