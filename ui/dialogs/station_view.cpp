#include "ui/dialogs/station_view.h"

#include "base/atomic_file.h"
#include "data/journal.h"
#include "data/live_store.h"
#include "data/profile_image.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/dialogs/profile_apply_view.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/hint_table.h"
#include "ui/session.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace velmar::ui {

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 520;
constexpr int kUnitsPerController = 1000; // progress units of one controller's image
constexpr const char* kDefaultBackupDir = "velmar-backups";

enum Column { kNumber, kIdent, kBackupTime, kDifferences, kJournal, kColumns };

QStringList Columns() {
    return {QStringLiteral("Номер"), QStringLiteral("Идентификация"),
            QStringLiteral("Последняя копия"), QStringLiteral("Отличий от копии"),
            QStringLiteral("Записей в журнале после копии")};
}

// "2026-12-08T10:00:00+0300" as the screens show a time: "2026-12-08 10:00:00".
QString ShownTime(const std::string& manifestTime) {
    return QString::fromStdString(manifestTime.substr(0, 19))
        .replace(QLatin1Char('T'), QLatin1Char(' '));
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace

TStationView::TStationView(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
    setWindowTitle(QStringLiteral("Станция"));
    resize(kWidth, kHeight);

    auto* dirRow = new QHBoxLayout;
    auto* dirLabel = new QLabel(QStringLiteral("Каталог копий"), this);
    dirLabel->setObjectName(QStringLiteral("lStationBackupDir"));
    dir_ = new QLineEdit(QString::fromLatin1(kDefaultBackupDir), this);
    dir_->setObjectName(QStringLiteral("eStationBackupDir"));
    dirLabel->setBuddy(dir_);
    // Folder names are completed as they are typed.
    auto* folders = new QFileSystemModel(this);
    folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders->setRootPath(QString());
    dir_->setCompleter(new QCompleter(folders, this));
    dirRow->addWidget(dirLabel);
    dirRow->addWidget(dir_, 1);

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("tControllers"));
    table_->setAccessibleName(QStringLiteral("Контроллеры линии"));
    table_->setColumnCount(kColumns);
    table_->setHorizontalHeaderLabels(Columns());
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(kIdent, QHeaderView::Stretch);

    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("lState"));
    state_->setWordWrap(true);

    auto* scan = Button(this, "bStationScan", QStringLiteral("Опросить линию"));
    auto* backup = Button(this, "bStationBackup", QStringLiteral("Сохранить все"));
    auto* verify = Button(this, "bStationVerify", QStringLiteral("Сверить все"));
    auto* open = Button(this, "bStationOpen", QStringLiteral("Открыть"));
    auto* saveProfile = Button(this, "bStationSaveProfile", QStringLiteral("Сохранить профиль…"));
    auto* applyProfile = Button(this, "bStationApplyProfile", QStringLiteral("Применить профиль…"));
    actions_ = {backup, verify, open, saveProfile, applyProfile};
    // Enter in the list starts nothing by itself.
    for (QPushButton* b : {scan, backup, verify, open, saveProfile, applyProfile})
        b->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {scan, backup, verify, open, saveProfile, applyProfile})
        row->addWidget(b);
    row->addStretch(1);
    row->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(dirRow);
    layout->addWidget(table_, 1);
    layout->addWidget(state_);
    layout->addLayout(row);

    connect(dir_, &QLineEdit::editingFinished, this, &TStationView::Refill);
    connect(scan, &QPushButton::clicked, this, &TStationView::Scan);
    connect(backup, &QPushButton::clicked, this, &TStationView::BackUpAll);
    connect(verify, &QPushButton::clicked, this, &TStationView::VerifyAll);
    connect(open, &QPushButton::clicked, this, &TStationView::OpenChosen);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &TStationView::OpenChosen);
    connect(saveProfile, &QPushButton::clicked, this, &TStationView::SaveProfile);
    connect(applyProfile, &QPushButton::clicked, this, &TStationView::ApplyProfile);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    NameInputControls(this);
    EnabledHint(this, true);
    Refill();
}

void TStationView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The list takes the keys, not the first button: Enter must not start a scan.
    table_->setFocus();
}

void TStationView::SetBackupDir(const QString& dir) {
    dir_->setText(dir);
    Refill();
}

QString TStationView::BackupDir() const {
    return dir_->text().trimmed();
}

std::string TStationView::PortName() const {
    return session_.Line().portName;
}
std::string TStationView::Dir() const {
    return dir_->text().trimmed().toStdString();
}

void TStationView::SetState(const QString& text) {
    state_->setText(text);
}

void TStationView::Scan() {
    constexpr int kTotal = kLastNumber - kFirstNumber + 1;
    const PortSlot slot = session_.Slot();
    std::vector<std::pair<int, QString>> found;
    std::map<int, int> sideOf; // second-side numbers -> side A
    const bool done = session_.LongExchange(
        QStringLiteral("Опрос линии"), kTotal, Cancel::Allowed, [&](ExchangeProgress& p) {
            const std::vector<int> numbers = ScanStation(
                slot, kFirstNumber, kLastNumber, [&p](int n) { p.Step(n - kFirstNumber + 1); },
                [&p] { return p.Cancelled(); });
            for (const int n : numbers) {
                // A controller's second side answers at its own number: listed as such.
                if (const auto a = sideOf.find(n); a != sideOf.end()) {
                    found.emplace_back(n, QString());
                    continue;
                }
                if (const int b = SecondSideNumber(slot, n); b > n) sideOf[b] = n;
                char text[kIdentTextSize] = {};
                const int ident = ReadIdentText(slot, n, text);
                found.emplace_back(n, ident == 1 || ident == -2
                                          ? QString::fromStdString(IdentLines(text))
                                          : QString());
            }
            return !p.Cancelled();
        });
    numbers_.clear();
    rows_.clear();
    for (const auto& [n, ident] : found) {
        numbers_.push_back(n);
        rows_[n].ident = ident;
        if (const auto a = sideOf.find(n); a != sideOf.end()) {
            rows_[n].sideOf = a->second;
            rows_[n].ident = QStringLiteral("вторая сторона Трк №%1").arg(a->second);
        }
    }
    Refill();
    const size_t sides = sideOf.size();
    QString text = found.empty()
                       ? QStringLiteral("Ни один контроллер не ответил")
                       : QStringLiteral("Найдено контроллеров: %1").arg(found.size() - sides);
    if (sides != 0) text += QStringLiteral(", вторых сторон: %1").arg(sides);
    SetState(done ? text : QStringLiteral("Опрос прерван. ") + text);
}

void TStationView::Refill() {
    const std::map<int, LatestBackup> latest = LatestBackups(Dir(), PortName());
    const std::string journal = session_.Options().journalPath;
    table_->setRowCount(static_cast<int>(numbers_.size()));
    int r = 0;
    for (const int n : numbers_) {
        const Row& row = rows_[n];
        // A second side is saved, checked and written with its controller.
        const auto backup = latest.find(row.sideOf != 0 ? row.sideOf : n);
        QString time = QStringLiteral("нет");
        QString entries = QStringLiteral("—");
        if (backup != latest.end() && row.sideOf == 0) {
            time = ShownTime(backup->second.entry.time);
            const int count =
                JournalEntriesSince(journal, PortName(), n, backup->second.entry.time);
            entries = count < 0 ? QStringLiteral("журнал не прочитан") : QString::number(count);
        }
        const QString differences = row.sideOf != 0             ? QStringLiteral("—")
                                    : !row.verifyNote.isEmpty() ? row.verifyNote
                                    : row.differences < 0 ? QStringLiteral("не сверялся")
                                                          : QString::number(row.differences);
        const QString cells[kColumns] = {QString::number(n),
                                         row.ident.section(QLatin1Char('\n'), 0, 0), time,
                                         differences, entries};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == kIdent) item->setToolTip(row.ident);
            table_->setItem(r, c, item);
        }
        ++r;
    }
    // The first row is current but not selected: with no row selected an apply takes them all.
    if (table_->currentRow() < 0 && !numbers_.empty())
        table_->setCurrentCell(0, 0, QItemSelectionModel::NoUpdate);
    for (QPushButton* b : actions_) b->setEnabled(!numbers_.empty());
}

std::vector<int> TStationView::SelectedNumbers(bool allWhenNone) const {
    std::vector<int> chosen;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        chosen.push_back(numbers_[static_cast<size_t>(index.row())]);
    if (chosen.empty() && allWhenNone) chosen = numbers_;
    std::sort(chosen.begin(), chosen.end());
    // A second side is written with its controller.
    std::erase_if(chosen, [this](int n) { return rows_.at(n).sideOf != 0; });
    return chosen;
}

void TStationView::BackUpAll() {
    if (numbers_.empty()) return;
    struct Watch : StationBackupWatch {
        Watch(ExchangeProgress& p, int n) : progress(p), count(n) {}
        void ImageStarted(int) override { ++index; }
        void ImageProgress(int, int done, int total) override {
            const int part = total > 0 ? done * kUnitsPerController / total : 0;
            progress.Step(std::min(count, index - 1) * kUnitsPerController + part);
        }
        bool Stop() override { return progress.Cancelled(); }
        ExchangeProgress& progress;
        int count;
        int index = 0;
    };
    const StationBackupRequest request{Dir(),           PortName(), numbers_.front(),
                                       numbers_.back(), false,      false};
    const int count = static_cast<int>(numbers_.size());
    const StationBackupOutcome out = session_.LongExchange(
        QStringLiteral("Сохранение копий контроллеров"), count * kUnitsPerController,
        Cancel::Allowed, [&](ExchangeProgress& p) {
            Watch watch(p, count);
            return BackupStation(session_.Slot(), request, watch);
        });
    int saved = 0;
    QStringList failures;
    for (const BackupEntry& e : out.manifest.controllers) {
        if (e.saved) {
            ++saved;
            rows_[e.number].differences = 0;
            rows_[e.number].verifyNote.clear();
        } else {
            failures << QStringLiteral("Трк №%1: %2")
                            .arg(e.number)
                            .arg(QString::fromStdString(e.reason));
        }
    }
    Refill();
    QString text = out.result == StationResult::Cancelled ? QStringLiteral("Сохранение прервано. ")
                                                          : QString();
    text += out.error.empty() ? QStringLiteral("Сохранено контроллеров: %1, не сохранено: %2")
                                    .arg(saved)
                                    .arg(out.manifest.controllers.size() - saved)
                              : QString::fromStdString(out.error);
    if (!failures.isEmpty()) text += QLatin1Char('\n') + failures.join(QLatin1Char('\n'));
    SetState(text);
}

void TStationView::VerifyAll() {
    const std::map<int, LatestBackup> latest = LatestBackups(Dir(), PortName());
    std::vector<int> targets;
    for (const int n : numbers_)
        if (latest.count(n) != 0 && rows_[n].sideOf == 0) targets.push_back(n);
    if (targets.empty()) {
        SetState(QStringLiteral("В каталоге ") + dir_->text() +
                 QStringLiteral(" нет копий этих контроллеров: сверять не с чем"));
        return;
    }
    const int count = static_cast<int>(targets.size());
    std::map<int, VerifyOutcome> outcomes;
    session_.LongExchange(
        QStringLiteral("Сверка контроллеров с копиями"), count * kUnitsPerController,
        Cancel::Allowed, [&](ExchangeProgress& p) {
            for (int i = 0; i < count && !p.Cancelled(); ++i) {
                const LatestBackup& b = latest.at(targets[static_cast<size_t>(i)]);
                outcomes[b.entry.number] = VerifyController(
                    session_.Slot(), PortName(), b.dir, b.entry,
                    [&p, i](int done, int total) {
                        p.Step(i * kUnitsPerController +
                               (total > 0 ? done * kUnitsPerController / total : 0));
                    },
                    [&p] { return p.Cancelled(); });
            }
            return 1;
        });
    int same = 0;
    for (const auto& [n, v] : outcomes) {
        Row& row = rows_[n];
        row.verifyNote.clear();
        row.differences = -1;
        switch (v.status) {
        case VerifyStatus::Same:
            row.differences = 0;
            ++same;
            break;
        case VerifyStatus::Differs:
            row.differences = static_cast<int>(v.differences.size());
            break;
        case VerifyStatus::Failed:
            row.verifyNote = QStringLiteral("не считан");
            break;
        case VerifyStatus::BadBackup:
            row.verifyNote = QStringLiteral("копия повреждена");
            break;
        }
    }
    Refill();
    SetState(QStringLiteral("Совпадают с копией: %1, отличаются или не считаны: %2")
                 .arg(same)
                 .arg(outcomes.size() - same));
}

void TStationView::OpenChosen() {
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(numbers_.size())) return;
    chosen_ = numbers_[static_cast<size_t>(row)];
    accept();
}

void TStationView::SaveProfile() {
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(numbers_.size())) return;
    const int number = numbers_[static_cast<size_t>(row)];
    const QString path = session_.Ask().SaveFileName(
        this, QStringLiteral("Сохранить профиль"), QStringLiteral("Профиль (*.txt);;Все файлы (*)"),
        QStringLiteral("txt"));
    if (path.isEmpty()) return;
    std::vector<uint8_t> image;
    std::string why;
    const ImageSaveResult read = session_.LongExchange(
        QStringLiteral("Подождите, идет процесс чтения данных из контроллера"), kUnitsPerController,
        Cancel::Allowed, [&](ExchangeProgress& p) {
            int ctrl = number;
            LiveRecordStore store(session_.Slot(), ctrl);
            return ReadDeviceImage(
                store, image,
                [&p](int done, int total) {
                    p.Step(total > 0 ? done * kUnitsPerController / total : 0);
                },
                &why, [&p] { return p.Cancelled(); });
        });
    if (read != ImageSaveResult::Saved) {
        session_.Ask().Message(
            this, QString::fromStdString(why.empty() ? ImageSaveErrorText(read) : why));
        return;
    }
    const std::string file = path.toStdString();
    const size_t slash = file.rfind('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    Profile profile;
    if (!MakeProfile(image, {}, name, profile, why)) {
        session_.Ask().Message(this, QString::fromStdString(why));
        return;
    }
    const std::string text = ProfileText(profile);
    if (WriteFileAtomically(file, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            &why) != 0) {
        session_.Ask().Message(this, QStringLiteral("Профиль не сохранен: ") +
                                         QString::fromStdString(why));
        return;
    }
    SetState(QStringLiteral("Профиль Трк №%1 сохранен в %2, полей: %3")
                 .arg(number)
                 .arg(path)
                 .arg(profile.entries.size()));
}

void TStationView::ApplyProfile() {
    const std::vector<int> targets = SelectedNumbers(true);
    if (targets.empty()) return;
    const QString path = session_.Ask().OpenFileName(
        this, QStringLiteral("Применить профиль"), QStringLiteral("Профиль (*.txt);;Все файлы (*)"),
        QStringLiteral("txt"));
    if (path.isEmpty()) return;
    // A metrological field is written only once the engineer confirmed it by name.
    ProfileReadOptions options;
    Profile profile;
    ProfileError error;
    while (!ReadProfile(path.toStdString(), options, profile, error)) {
        if (error.reason != ProfileRefusal::Metrological ||
            !session_.Ask().Warn(this, QStringLiteral("Профиль меняет метрологическое поле ") +
                                           QString::fromStdString(error.field) +
                                           QStringLiteral(". Записать его?"))) {
            if (error.reason != ProfileRefusal::Metrological)
                session_.Ask().Message(this, QString::fromStdString(ProfileErrorText(error)));
            return;
        }
        const std::string field = error.field.substr(0, error.field.find('['));
        options.metrological.push_back(field);
    }
    std::vector<ApplyTarget> read;
    const int count = static_cast<int>(targets.size());
    session_.LongExchange(
        QStringLiteral("Чтение контроллеров"), count, Cancel::Allowed, [&](ExchangeProgress& p) {
            for (int i = 0; i < count && !p.Cancelled(); ++i) {
                read.push_back(PreviewApply(session_.Slot(), targets[static_cast<size_t>(i)],
                                            profile, path.toStdString()));
                p.Step(i + 1);
            }
            return 1;
        });
    if (read.empty()) return;
    TProfileApplyView view(session_, profile, path.toStdString(), Dir(), std::move(read), this);
    session_.Ask().ExecDialog(view);
    int verified = 0;
    int failed = 0;
    for (const ApplyTarget& t : view.Targets()) {
        verified += t.state == ApplyState::Verified ? 1 : 0;
        failed += t.state == ApplyState::Failed ? 1 : 0;
        if (t.state == ApplyState::Verified || t.state == ApplyState::Failed)
            rows_[t.number].differences = -1; // the backup made before the write is the latest
    }
    Refill();
    SetState(QStringLiteral("Профиль %1: записано и проверено контроллеров: %2, с ошибкой: %3")
                 .arg(QString::fromStdString(profile.name))
                 .arg(verified)
                 .arg(failed));
}

} // namespace velmar::ui
