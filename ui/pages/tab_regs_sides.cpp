#include "ui/pages/tab_regs_sides.h"

#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/char_key_filter.h"
#include "ui/fields/field_grid.h"
#include "ui/pages/status_line.h"
#include "ui/session.h"
#include "ui_tab_regs_sides.h"

#include <QRegularExpression>

namespace velmar::ui {

namespace {

struct SideTexts {
    const char* readFailed;
    const char* readFailedDemo;
    const char* read;
    const char* readDemo;
    const char* written;
    const char* writeFailed;
};

constexpr std::array<SideTexts, 2> kSideTexts{{
    {"Ошибка чтения состояния стороны А", "Ошибка чтения состояния стороны 1",
     "Чтения состояния стороны А произведено", "Чтения состояния стороны 1 произведено",
     "Запись состояния стороны 1 произведена", "Ошибка записи состояния стороны 1"},
    {"Ошибка чтения состояния стороны 2", "Ошибка чтения состояния стороны 2",
     "Чтения состояния стороны Б произведено", "Чтения состояния стороны 2 произведено",
     "Запись состояния стороны 2 произведена", "Ошибка записи состояния стороны 2"},
}};

// Status texts of a read by its result (1, -1, -2, -3): on showing the tab and on the button.
// They differ in one word ("считаны" / "считано"); both are kept as the controller's makers wrote
// them.
constexpr std::array<const char*, 4> kShowTexts{
    "Состояния первой и второй стороны считаны", "Состояние первой стороны не считаны!",
    "Состояние второй стороны не считаны!", "Состояния первой и второй стороны не считаны!"};
constexpr std::array<const char*, 4> kButtonTexts{
    "Состояния первой и второй стороны считаны", "Состояние первой стороны не считано!",
    "Состояние второй стороны не считано!", "Состояния первой и второй стороны не считаны!"};

constexpr const char* kTooManyCorrections =
    "Введено число превышающее максимальное количество корректировок";

const QString kDateMask = QStringLiteral("99.99.99; ");

QString Two(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

TabRegsSides::TabRegsSides(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabRegsSides>()) {
    ui->setupUi(this);
    NameInputsByLabels(this);
    sides_[0] = {ui->gbRegsSide1, ui->eActiveNoz_s1, ui->eCountKor_s1, ui->maskDateLastKor_s1,
                 ui->eCountTranz_s1};
    sides_[1] = {ui->gbRegsSide2, ui->eActiveNoz_s2, ui->eCountKor_s2, ui->maskDateLastKor_s2,
                 ui->eCountTranz_s2};
    for (int side = 0; side < 2; ++side) {
        const SideControls& c = sides_[static_cast<size_t>(side)];
        c.activeNoz->setReadOnly(true);
        // No length limits: they would also cut what the controller holds (255, 4294967295).
        c.date->setInputMask(kDateMask);
        for (QLineEdit* e : {c.countKor, c.date, c.countTranz}) new CharKeyFilter(e, kDigits);
        connect(new LeaveWatcher(c.countKor), &LeaveWatcher::left, this,
                [this, side] { CountKorExit(side); });
        connect(new LeaveWatcher(c.date), &LeaveWatcher::left, this,
                [this, side] { DateExit(side); });
        connect(new LeaveWatcher(c.countTranz), &LeaveWatcher::left, this,
                [this, side] { CountTranzExit(side); });
    }
    connect(ui->bCallRegsSides, &QPushButton::clicked, this, &TabRegsSides::bCallRegsSidesClick);
    connect(ui->bWriteRegsSides, &QPushButton::clicked, this, &TabRegsSides::bWriteRegsSidesClick);
}

TabRegsSides::~TabRegsSides() = default;

int TabRegsSides::Address(int side) const {
    return side == 0 ? addr::kSideStateA : addr::kSideStateB;
}

// ---- Reading ----------------------------------------------------------------------------------

void TabRegsSides::PageShown() {
    // The records are shown read-only; --service keeps them editable and writable.
    for (const SideControls& c : sides_)
        for (QLineEdit* e : {c.countKor, c.date, c.countTranz})
            e->setReadOnly(!session_.Options().serviceMode);
    ui->bWriteRegsSides->setVisible(session_.Options().serviceMode);
    ApplyReadResult(ReadSidesSetts(), true);
}

void TabRegsSides::bCallRegsSidesClick() {
    ApplyReadResult(ReadSidesSetts(), false);
}

int TabRegsSides::ReadSidesSetts() {
    const bool demo = session_.Store().IsDemo();
    bool failed[2] = {false, false};
    // Both sides, whatever the number of sides configured.
    for (int side = 0; side < 2; ++side) {
        ControllerModel& model = session_.Model();
        RecordStore& store = session_.Store();
        const int address = Address(side);
        const ReadResult read =
            session_.ExchangeFor([&] { return ReadModelSide(model, store, side, address); });
        const SideTexts& t = kSideTexts[static_cast<size_t>(side)];
        // A short record would show bytes that were never read.
        if (read != ReadResult::Read) {
            ReportFailure(session_, this, demo ? t.readFailedDemo : t.readFailed);
            failed[side] = true;
            continue;
        }
        FreshStatus(session_, demo ? t.readDemo : t.read);
        ShowSide(side);
    }
    if (failed[0] && failed[1]) return kBothSidesFailed;
    if (failed[0]) return kSideAFailed;
    if (failed[1]) return kSideBFailed;
    return kSidesRead;
}

void TabRegsSides::ApplyReadResult(int result, bool onShow) {
    const bool a = result == kSidesRead || result == kSideBFailed;
    const bool b = result == kSidesRead || result == kSideAFailed;
    ui->gbRegsSide1->setEnabled(a);
    ui->gbRegsSide2->setEnabled(b);
    ui->bWriteRegsSides->setEnabled(a || b);
    const size_t row = result == kSidesRead ? 0 : static_cast<size_t>(-result);
    FreshStatus(session_, (onShow ? kShowTexts : kButtonTexts)[row]);
}

void TabRegsSides::ShowSide(int side) {
    const SideState& r = Held(side);
    const SideControls& c = sides_[static_cast<size_t>(side)];
    c.activeNoz->setText(QString::number(r.ActiveNoz()));
    c.countKor->setText(QString::number(r.CountKor()));
    // The two-digit mask would cut a day, month or year above 99: such a date is shown whole,
    // without the mask, until a record with a two-digit date brings it back.
    const bool twoDigits =
        r.DateLastKorDay() <= 99 && r.DateLastKorMonth() <= 99 && r.DateLastKorYear() <= 99;
    c.date->setInputMask(twoDigits ? kDateMask : QString());
    c.date->setText(Two(r.DateLastKorDay()) + QLatin1Char('.') + Two(r.DateLastKorMonth()) +
                    QLatin1Char('.') + Two(r.DateLastKorYear()));
    c.countTranz->setText(QString::number(r.CountTranz()));
}

// ---- Fields -----------------------------------------------------------------------------------

void TabRegsSides::CountKorExit(int side) {
    QLineEdit* e = sides_[static_cast<size_t>(side)].countKor;
    if (!e->isModified()) return; // what was shown is what is held
    SideState& r = Held(side);
    bool ok = false;
    const qulonglong value = e->text().toULongLong(&ok);
    if (!ok) {
        session_.Ask().Message(this,
                               QStringLiteral("\"%1\" не является целым числом").arg(e->text()));
        return;
    }
    if (value > 65535) {
        session_.Ask().Message(this, QString::fromUtf8(kTooManyCorrections));
        e->setText(QString::number(r.CountKor()));
        return;
    }
    r.SetCountKor(static_cast<uint16_t>(value));
}

// Three numbers separated by points; anything else leaves the held date as it was.
void TabRegsSides::DateExit(int side) {
    static const QRegularExpression kDate(QStringLiteral("^\\s*(\\d+)\\.\\s*(\\d+)\\.\\s*(\\d+)"));
    const QLineEdit* e = sides_[static_cast<size_t>(side)].date;
    // Unedited, the held date stays as it is.
    if (!e->isModified()) return;
    const QRegularExpressionMatch m = kDate.match(e->text());
    if (!m.hasMatch()) return;
    // A date shown without the mask can be typed longer: a part above a byte is not stored
    // wrapped.
    uint8_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint32_t v = m.captured(i + 1).toUInt(&ok);
        if (!ok || v > 255) return;
        parts[i] = static_cast<uint8_t>(v);
    }
    SideState& r = Held(side);
    r.SetDateLastKorDay(parts[0]);
    r.SetDateLastKorMonth(parts[1]);
    r.SetDateLastKorYear(parts[2]);
}

// The leading digits count (none: 0); a number beyond 32 bits is refused and the held count shown
// again, so nothing cut or wrapped is ever stored.
void TabRegsSides::CountTranzExit(int side) {
    QLineEdit* e = sides_[static_cast<size_t>(side)].countTranz;
    if (!e->isModified()) return;
    uint64_t value = 0;
    for (const QChar c : e->text()) {
        if (!c.isDigit()) break;
        value = value * 10 + static_cast<uint64_t>(c.digitValue());
        if (value > UINT32_MAX) {
            e->setText(QString::number(Held(side).CountTranz()));
            return;
        }
    }
    Held(side).SetCountTranz(static_cast<uint32_t>(value));
}

// ---- Writing ----------------------------------------------------------------------------------

void TabRegsSides::bWriteRegsSidesClick() {
    int a = 0;
    int written = 0;
    for (int side = 0; side < 2; ++side) {
        if (!sides_[static_cast<size_t>(side)].group->isEnabled()) continue;
        const int rc = WriteSideSetts(side);
        const SideTexts& t = kSideTexts[static_cast<size_t>(side)];
        FreshStatus(session_, rc == 1 ? t.written : t.writeFailed);
        a = a * 10 + rc;
        ++written;
    }
    if (written < 2) return;
    switch (a) {
    case 11:
        FreshStatus(session_, "Состояния первой и второй стороны записаны");
        break;
    case 9:
        FreshStatus(session_, "Состояние второй стороны не записано!");
        break;
    case -9:
        FreshStatus(session_, "Состояние первой стороны не записано!");
        break;
    default:
        FreshStatus(session_, "Состояния первой и второй стороны не записаны!");
        break;
    }
}

int TabRegsSides::WriteSideSetts(int side) {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const int address = Address(side);
    return session_.ExchangeFor([&] { return WriteModelSide(model, store, side, address); }) ==
                   WriteResult::Written
               ? 1
               : -1;
}

SideState& TabRegsSides::Held(int side) {
    return session_.Model().Side(side).working;
}

} // namespace velmar::ui
