#include "ui/dialogs/profile_apply_view.h"

#include "ui/fields/accessible_names.h"
#include "ui/fields/hint_table.h"
#include "ui/session.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velmar::ui {

namespace {

constexpr int kWidth = 860;
constexpr int kHeight = 480;
constexpr int kUnitsPerController = 1000;

QString StateText(ApplyState s) {
    switch (s) {
    case ApplyState::Complies:
        return QStringLiteral("соответствует профилю, не записывался");
    case ApplyState::WouldChange:
        return QStringLiteral("будет изменен");
    case ApplyState::Verified:
        return QStringLiteral("записан и проверен");
    case ApplyState::Failed:
        return QStringLiteral("ошибка");
    case ApplyState::Untouched:
        return QStringLiteral("не затронут");
    }
    return {};
}

QTableWidget* NewTable(QWidget* parent, const QString& name, const QStringList& columns) {
    auto* t = new QTableWidget(parent);
    t->setAccessibleName(name);
    t->setColumnCount(static_cast<int>(columns.size()));
    t->setHorizontalHeaderLabels(columns);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setWordWrap(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void SetRow(QTableWidget* t, int row, const QStringList& cells) {
    for (int c = 0; c < cells.size(); ++c) t->setItem(row, c, new QTableWidgetItem(cells[c]));
}

} // namespace

TProfileApplyView::TProfileApplyView(Session& session, const Profile& profile,
                                     const std::string& profileFile, const std::string& backupDir,
                                     std::vector<ApplyTarget> targets, QWidget* parent)
    : QDialog(parent), session_(session), profile_(profile), profileFile_(profileFile),
      backupDir_(backupDir), targets_(std::move(targets)) {
    setWindowTitle(QStringLiteral("Применить профиль ") + QString::fromStdString(profile.name));
    resize(kWidth, kHeight);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("tabsPreview"));
    result_ = NewTable(this, QStringLiteral("Итог по контроллерам"),
                       {QStringLiteral("Трк"), QStringLiteral("Итог"), QStringLiteral("Копия"),
                        QStringLiteral("Подробности")});
    result_->setObjectName(QStringLiteral("tResult"));
    result_->hide();
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("lState"));
    state_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    write_ = buttons->addButton(QStringLiteral("Записать"), QDialogButtonBox::ActionRole);
    write_->setObjectName(QStringLiteral("bProfileWrite"));
    rollback_ = buttons->addButton(QStringLiteral("Откатить"), QDialogButtonBox::ActionRole);
    rollback_->setObjectName(QStringLiteral("bProfileRollback"));
    rollback_->hide();
    // Nothing is written by an Enter meant for the table: only a click or the button's own key.
    write_->setAutoDefault(false);
    rollback_->setAutoDefault(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(result_, 1);
    layout->addWidget(state_);
    layout->addWidget(buttons);
    connect(write_, &QPushButton::clicked, this, &TProfileApplyView::Write);
    connect(rollback_, &QPushButton::clicked, this, &TProfileApplyView::RollBack);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ShowPreview();
    NameInputControls(this);
    EnabledHint(this, true);
}

void TProfileApplyView::ShowPreview() {
    int changing = 0;
    bool failed = false;
    for (const ApplyTarget& t : targets_) {
        const QString number = QString::number(t.number);
        auto* table = NewTable(this, QStringLiteral("Изменения Трк №") + number,
                               {QStringLiteral("Запись"), QStringLiteral("Поле"),
                                QStringLiteral("Сейчас"), QStringLiteral("В профиле")});
        table->setObjectName(QStringLiteral("tPreview") + number);
        table->setRowCount(static_cast<int>(t.read.changes.size()));
        int row = 0;
        for (const ProfileDeviation& d : t.read.changes)
            SetRow(table, row++,
                   {QString::fromStdString(d.record), QString::fromStdString(d.caption),
                    QString::fromStdString(d.now), QString::fromStdString(d.wanted)});
        QString caption = QStringLiteral("Трк №") + number;
        if (t.state == ApplyState::WouldChange)
            caption += QStringLiteral(" (%1)").arg(t.read.changes.size());
        else if (t.state == ApplyState::Failed)
            caption += QStringLiteral(" (ошибка)");
        tabs_->addTab(table, caption);
        changing += t.state == ApplyState::WouldChange ? 1 : 0;
        failed = failed || t.state == ApplyState::Failed;
    }
    QStringList lines;
    for (const ApplyTarget& t : targets_)
        if (t.state != ApplyState::WouldChange)
            lines << QStringLiteral("Трк №%1: %2%3")
                         .arg(t.number)
                         .arg(StateText(t.state))
                         .arg(t.detail.empty()
                                  ? QString()
                                  : QStringLiteral(": ") + QString::fromStdString(t.detail));
    lines.prepend(failed     ? QStringLiteral("Не все контроллеры прочитаны: запись невозможна")
                  : changing ? QStringLiteral("Будут изменены контроллеры: %1. Перед записью "
                                              "каждый сохраняется в каталог копий")
                                   .arg(changing)
                             : QStringLiteral("Все контроллеры соответствуют профилю"));
    state_->setText(lines.join(QLatin1Char('\n')));
    write_->setEnabled(changing > 0 && !failed);
}

ApplyLine TProfileApplyView::Line() const {
    const LineSettings& l = session_.Line();
    return {session_.Slot(),
            l.portName,
            {l.baud, l.dataBits, l.parity, l.stopBits},
            session_.Options().journalPath,
            "Станция, профиль " + profile_.name};
}

void TProfileApplyView::Write() {
    write_->setEnabled(false);
    RunFolder run;
    BackupManifest manifest;
    std::vector<std::string> notes;
    std::string error;
    if (!StartRun(backupDir_, run, notes, error)) {
        session_.Ask().Message(this, QString::fromStdString(error));
        return;
    }
    const ApplyLine line = Line();
    manifest.port = line.portName;
    manifest.created = LocalTime("%Y-%m-%dT%H:%M:%S%z");
    manifest.folder = run.name;
    manifest.first = targets_.front().number;
    manifest.last = targets_.back().number;
    const int count = static_cast<int>(targets_.size());
    session_.LongExchange(
        QStringLiteral("Запись профиля"), count * kUnitsPerController, Cancel::Allowed,
        [&](ExchangeProgress& p) {
            bool stopped = false;
            for (int i = 0; i < count; ++i) {
                ApplyTarget& t = targets_[static_cast<size_t>(i)];
                if (t.state != ApplyState::WouldChange) continue;
                // Stopped by a failure or by the engineer: the rest is not touched.
                if (stopped || p.Cancelled()) {
                    t.state = ApplyState::Untouched;
                    continue;
                }
                stopped = !ApplyToController(
                    line, profile_, run, manifest, t, [&p, i](int done, int total) {
                        p.Step(i * kUnitsPerController +
                               (total > 0 ? done * kUnitsPerController / total : 0));
                    });
            }
            return 1;
        });
    std::string ignored;
    WriteManifest(run.path, manifest, ignored);
    if (!FinishRun(backupDir_, run, error))
        session_.Ask().Message(this, QString::fromStdString(error));
    ShowResult();
}

void TProfileApplyView::ShowResult() {
    tabs_->hide();
    result_->show();
    result_->setRowCount(static_cast<int>(targets_.size()));
    int row = 0;
    bool failed = false;
    for (const ApplyTarget& t : targets_) {
        QString detail = QString::fromStdString(t.detail);
        if (t.state == ApplyState::Failed && !t.holds.empty()) {
            QStringList off;
            for (const ProfileDeviation& d : t.holds)
                off << QString::fromStdString(d.caption + ": " + d.now + " (в профиле " + d.wanted +
                                              ")");
            detail +=
                QStringLiteral("; сейчас отличается от профиля: ") + off.join(QStringLiteral(", "));
        }
        SetRow(result_, row++,
               {QStringLiteral("Трк №%1").arg(t.number), StateText(t.state),
                QString::fromStdString(t.backup), detail});
        failed = failed || t.state == ApplyState::Failed;
    }
    rollback_->setVisible(failed);
    rollback_->setEnabled(failed);
    state_->setText(failed ? QStringLiteral("Запись остановлена на контроллере с ошибкой; "
                                            "\"Откатить\" записывает в него его копию")
                           : QStringLiteral("Профиль записан"));
}

void TProfileApplyView::RollBack() {
    for (ApplyTarget& t : targets_) {
        if (t.state != ApplyState::Failed || t.image.empty()) continue;
        const ApplyLine line = Line();
        const bool same = session_.LongExchange(
            QStringLiteral("Откат Трк №%1").arg(t.number), kUnitsPerController, Cancel::NotAllowed,
            [&](ExchangeProgress& p) {
                return RollBackController(line, t, [&p](int done, int total) {
                    p.Step(total > 0 ? done * kUnitsPerController / total : 0);
                });
            });
        t.detail += same ? "; откат: копия записана обратно, совпадает"
                         : "; откат не удался: контроллер не совпадает с копией";
    }
    ShowResult();
    rollback_->setEnabled(false);
}

} // namespace velmar::ui
