// Pictures of the three dialogs as an engineer first sees them, saved when
// VELMAR_SCREENSHOT_DIR is set (run under a display to look at their layout).
#include "dialogs_fixture.h"
#include "ui/def_set.h"
#include "ui/global_setts.h"
#include "ui/view_param.h"

#include <QCheckBox>

namespace velmar::test {
namespace {

void Save(QWidget& w, const QString& name) {
    const QString dir = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QApplication::processEvents();
    w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

TEST_F(DialogsTest, Screenshots) {
    sim::Options options;
    options.hosesPerSide = 4;
    StartBus(options);
    auto& setup = Make<ui::TfGlobalSetts>();
    Open(setup);
    Save(setup, QStringLiteral("initial_setup"));
    setup.reject();

    auto& defaults = Make<ui::TformDefSet>();
    Open(defaults);
    Save(defaults, QStringLiteral("factory_defaults"));
    Choose(Get<QComboBox>(defaults, "cbCountSize_DS"), U("1 сторона"));
    Save(defaults, QStringLiteral("factory_defaults_one_side"));
    defaults.reject();

    auto& report = Make<ui::TformViewParam>();
    Open(report);
    Click(Get<QCheckBox>(report, "checkAdvanceMode"));
    Save(report, QStringLiteral("parameter_report"));
    EXPECT_EQ(report.size(), QSize(640, 480));
}

} // namespace
} // namespace velmar::test
