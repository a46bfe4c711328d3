// The station view clicked through as an engineer would, against a simulated station of several
// controllers on a pseudo-terminal: the scan lists them, "Сохранить все" writes a backup folder of
// their images, a profile made from one and applied to the others shows exactly the differing
// fields first and leaves them holding the profile, and "Открыть" switches the window's number.
#include "data/backup_manifest.h"
#include "data/ctrlr_params.h"
#include "data/memory_map.h"
#include "gui/gui_fixture.h"
#include "ui/dialogs/profile_apply_view.h"
#include "ui/dialogs/station_view.h"
#include "ui/fields/hint_table.h"

#include <QFile>
#include <QTabWidget>
#include <QTableWidget>
#include <filesystem>
#include <map>
#include <set>

namespace velmar::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSource = 1;
constexpr int kLast = 4;
// Set on the source controller only: the defaults of the others differ from each.
constexpr uint8_t kSlowStartStored = 3;
constexpr uint8_t kMetTOut = 45;
constexpr uint8_t kNozzleWait = 7;
// The metrological fields of the parameter block a profile of it carries.
constexpr int kMetrologicalConfirmations = 2;
// A parameter changed in a controller's memory: that field and the block's checksum differ.
constexpr int kFieldsOfOneChange = 2;
// The view's controls with a hint: the folder and the six actions.
constexpr int kStationViewHints = 7;

std::vector<int> Station() {
    std::vector<int> numbers;
    for (int n = kSource; n <= kLast; ++n) numbers.push_back(n);
    return numbers;
}

const std::map<std::string, uint8_t>& SourceValues() {
    static const std::map<std::string, uint8_t> values = {
        {params::kSlowStart.name, kSlowStartStored},
        {params::kMetTOut.name, kMetTOut},
        {params::kNozzleWait.name, kNozzleWait}};
    return values;
}

uint8_t& Byte(sim::Controller& c, const std::string& field) {
    for (const Field& f : params::kFields)
        if (field == f.name) return c.Space(0)[addr::kParams + f.offset];
    throw std::invalid_argument(field);
}

class StationViewTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        StartSim(Station());
        auto lock = sim->Lock();
        sim::Controller* source = sim->Find(kSource);
        for (const auto& [field, value] : SourceValues()) {
            ASSERT_NE(Byte(*source, field), value) << "the default already holds it";
            Byte(*source, field) = value;
        }
        source->FixParamsChecksum();
    }

    // Opens the station view from the menu; `work` runs while it is shown (and again for the
    // dialogs it opens, which `apply` answers).
    void WithStationView(const std::function<void(ui::TStationView&)>& work,
                         const std::function<void(ui::TProfileApplyView&)>& apply = {}) {
        prompts->onDialog = [&](QDialog& d) {
            if (auto* view = qobject_cast<ui::TStationView*>(&d)) {
                view->SetBackupDir(TempPath(QStringLiteral("backups")));
                work(*view);
            } else if (auto* a = qobject_cast<ui::TProfileApplyView*>(&d); a && apply) {
                apply(*a);
            }
        };
        MenuAction("menuStation")->trigger();
        prompts->onDialog = {};
    }

    static QTableWidget* Table(QWidget& w, const char* name) {
        auto* t = w.findChild<QTableWidget*>(QLatin1String(name));
        EXPECT_NE(t, nullptr) << name;
        return t;
    }
    static void Click(QWidget& w, const char* name) {
        auto* b = w.findChild<QPushButton*>(QLatin1String(name));
        ASSERT_NE(b, nullptr) << name;
        ASSERT_TRUE(b->isEnabled()) << name;
        QTest::mouseClick(b, Qt::LeftButton);
    }
    bool HoldsProfile(int number) {
        auto lock = sim->Lock();
        for (const auto& [field, value] : SourceValues())
            if (Byte(*sim->Find(number), field) != value) return false;
        return true;
    }
};

TEST_F(StationViewTest, ScanListsTheControllersAndBackUpAllSavesEachImage) {
    StartApp(QString::number(kSource));
    std::vector<int> listed;
    WithStationView([&](ui::TStationView& view) {
        listed = view.Numbers();
        QTableWidget* table = Table(view, "tControllers");
        ASSERT_EQ(table->rowCount(), kLast);
        EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("нет")); // no backup yet
        EXPECT_FALSE(table->item(0, 1)->text().isEmpty());           // the identification
        Click(view, "bStationBackup");
        for (int row = 0; row < table->rowCount(); ++row)
            EXPECT_NE(table->item(row, 2)->text(), QStringLiteral("нет")) << row;
        Click(view, "bStationVerify");
        for (int row = 0; row < table->rowCount(); ++row)
            EXPECT_EQ(table->item(row, 3)->text(), QStringLiteral("0")) << row;
        ScreenshotOf(view, QStringLiteral("station-view"));
        // Each control of the view has its hint; each input control its caption as its name.
        int hinted = 0;
        for (const ui::HintRow& row : ui::HintTable())
            for (const char* name : row.controls)
                if (auto* w = view.findChild<QWidget*>(QLatin1String(name))) {
                    ++hinted;
                    EXPECT_EQ(w->toolTip(), ui::HintDisplayText(QString::fromUtf8(row.text)));
                }
        EXPECT_EQ(hinted, kStationViewHints);
        EXPECT_EQ(view.findChild<QWidget*>(QStringLiteral("eStationBackupDir"))->accessibleName(),
                  QStringLiteral("Каталог копий"));
        // A controller changed behind the view's back shows its differing field.
        {
            auto lock = sim->Lock();
            Byte(*sim->Find(kLast), params::kSlowLoad.name) ^= 1;
            sim->Find(kLast)->FixParamsChecksum();
        }
        Click(view, "bStationVerify");
        EXPECT_EQ(table->item(kLast - 1, 3)->text(), QString::number(kFieldsOfOneChange));
        auto lock = sim->Lock();
        Byte(*sim->Find(kLast), params::kSlowLoad.name) ^= 1;
        sim->Find(kLast)->FixParamsChecksum();
    });
    EXPECT_EQ(listed, Station());

    const std::string top = TempPath(QStringLiteral("backups")).toStdString();
    BackupManifest manifest;
    std::string error;
    ASSERT_TRUE(ReadManifest(top + "/latest", manifest, error)) << error;
    ASSERT_EQ(manifest.controllers.size(), Station().size());
    EXPECT_EQ(manifest.port, session->Line().portName);
    auto lock = sim->Lock();
    for (const BackupEntry& e : manifest.controllers) {
        ASSERT_TRUE(e.saved) << e.number << ": " << e.reason;
        QFile f(QString::fromStdString(top + "/latest/" + e.file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        std::vector<uint8_t> image(bytes.begin(), bytes.end());
        EXPECT_EQ(image, sim->Find(e.number)->ImageBytes()) << "Трк №" << e.number;
    }
}

TEST_F(StationViewTest, ProfileFromOneAppliedToTheOthersPreviewsExactlyTheDifferingFields) {
    StartApp(QString::number(kSource));
    const QString profile = TempPath(QStringLiteral("station.txt"));
    std::map<int, std::set<QString>> previewed;
    QStringList results;
    WithStationView(
        [&](ui::TStationView& view) {
            QTableWidget* table = Table(view, "tControllers");
            table->selectRow(0);
            prompts->saveNames.push_back(profile);
            Click(view, "bStationSaveProfile");
            ASSERT_TRUE(QFile::exists(profile));
            table->clearSelection();
            for (int row = 1; row < table->rowCount(); ++row)
                table->selectionModel()->select(table->model()->index(row, 0),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
            prompts->openNames.push_back(profile);
            for (int i = 0; i < kMetrologicalConfirmations; ++i) prompts->confirms.push_back(true);
            Click(view, "bStationApplyProfile");
        },
        [&](ui::TProfileApplyView& apply) {
            for (int n = kSource + 1; n <= kLast; ++n) {
                QTableWidget* t = Table(apply, ("tPreview" + std::to_string(n)).c_str());
                if (t == nullptr) continue;
                for (int row = 0; row < t->rowCount(); ++row)
                    previewed[n].insert(t->item(row, 1)->text());
            }
            ScreenshotOf(apply, QStringLiteral("station-preview"));
            EXPECT_FALSE(HoldsProfile(kLast)); // nothing written before the engineer says so
            Click(apply, "bProfileWrite");
            QTableWidget* result = Table(apply, "tResult");
            for (int row = 0; row < result->rowCount(); ++row)
                results << result->item(row, 1)->text();
            ScreenshotOf(apply, QStringLiteral("station-result"));
        });
    // Each target's preview names exactly the fields set on the source: as many, the same.
    ASSERT_EQ(previewed.size(), static_cast<size_t>(kLast - kSource));
    for (const auto& [n, fields] : previewed) {
        EXPECT_EQ(fields.size(), SourceValues().size()) << "Трк №" << n;
        EXPECT_EQ(fields, previewed.begin()->second) << "Трк №" << n;
    }
    EXPECT_EQ(results, QStringList(kLast - kSource, QStringLiteral("записан и проверен")));
    for (int n = kSource + 1; n <= kLast; ++n) EXPECT_TRUE(HoldsProfile(n)) << "Трк №" << n;
}

TEST_F(StationViewTest, AControllerRefusingTheWriteStopsTheRunAndIsRolledBack) {
    constexpr int kFailing = kSource + 2;
    StartApp(QString::number(kSource));
    std::vector<uint8_t> before;
    {
        auto lock = sim->Lock();
        before = sim->Find(kFailing)->ImageBytes();
        sim->Find(kFailing)->sealedAddress = addr::kParams;
    }
    const QString profile = TempPath(QStringLiteral("station.txt"));
    QStringList results;
    bool rollbackOffered = false;
    WithStationView(
        [&](ui::TStationView& view) {
            QTableWidget* table = Table(view, "tControllers");
            table->setCurrentCell(0, 0);
            prompts->saveNames.push_back(profile);
            Click(view, "bStationSaveProfile");
            table->clearSelection();
            for (int row = 1; row < table->rowCount(); ++row)
                table->selectionModel()->select(table->model()->index(row, 0),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
            prompts->openNames.push_back(profile);
            for (int i = 0; i < kMetrologicalConfirmations; ++i) prompts->confirms.push_back(true);
            Click(view, "bStationApplyProfile");
        },
        [&](ui::TProfileApplyView& apply) {
            Click(apply, "bProfileWrite");
            QTableWidget* result = Table(apply, "tResult");
            for (int row = 0; row < result->rowCount(); ++row)
                results << result->item(row, 1)->text();
            auto* rollback = apply.findChild<QPushButton*>(QStringLiteral("bProfileRollback"));
            rollbackOffered = rollback != nullptr && rollback->isVisible();
            {
                auto lock = sim->Lock();
                sim->Find(kFailing)->sealedAddress = -1;
            }
            if (rollbackOffered) Click(apply, "bProfileRollback");
        });
    EXPECT_EQ(results, (QStringList{QStringLiteral("записан и проверен"), QStringLiteral("ошибка"),
                                    QStringLiteral("не затронут")}));
    EXPECT_TRUE(rollbackOffered);
    EXPECT_TRUE(HoldsProfile(kSource + 1));
    EXPECT_FALSE(HoldsProfile(kLast)); // not touched
    auto lock = sim->Lock();
    EXPECT_EQ(sim->Find(kFailing)->ImageBytes(), before) << "rolled back byte for byte";
}

// "Прервать" stops a backup of all between exchanges: the run is left incomplete, never latest.
TEST_F(StationViewTest, BackUpAllCanBeCancelled) {
    StartApp(QString::number(kSource));
    QString state;
    WithStationView([&](ui::TStationView& view) {
        auto once = std::make_shared<bool>(false);
        const auto cancel = QObject::connect(
            session.get(), &ui::Session::exchangeProgressed, &view, [once](int done) {
                if (done == 0 || *once) return;
                *once = true;
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->objectName() == QStringLiteral("ExchangeProgressPanel") &&
                        w->isVisible())
                        QTest::mouseClick(
                            w->findChild<QPushButton*>(QStringLiteral("bCancelExchange")),
                            Qt::LeftButton);
            });
        Click(view, "bStationBackup");
        QObject::disconnect(cancel);
        state = view.findChild<QLabel*>(QStringLiteral("lState"))->text();
    });
    EXPECT_TRUE(state.startsWith(QStringLiteral("Сохранение прервано"))) << state.toStdString();
    const std::string top = TempPath(QStringLiteral("backups")).toStdString();
    EXPECT_FALSE(fs::exists(top + "/latest"));
}

TEST_F(StationViewTest, OpenOneSwitchesTheWindowsNumber) {
    StartApp(QString::number(kSource));
    WithStationView([&](ui::TStationView& view) {
        QTableWidget* table = Table(view, "tControllers");
        table->setCurrentCell(kLast - 1, 0);
        Click(view, "bStationOpen");
    });
    EXPECT_EQ(session->Address(), kLast);
    EXPECT_EQ(Text("lNumberCtrlr"), QStringLiteral("Работа с Адресом №%1").arg(kLast));
}

} // namespace
} // namespace velmar::test
