#include "ui/pages/tab_temperature_tbl.h"

#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/temp_table_calc.h"
#include "ui/fields/accessible_names.h"
#include "ui/fields/char_key_filter.h"
#include "ui/pages/status_line.h"
#include "ui/session.h"
#include "ui_tab_temperature_tbl.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidgetItem>

namespace velmar::ui {

namespace {

constexpr const char* kDemo = "Демонстрационная версия программы";
constexpr const char* kRead = "Таблица считана";
constexpr const char* kNotRead = "Таблица не считана";
constexpr const char* kWritten = "Таблица записана";
constexpr const char* kNotWritten = "Таблица не записана";
// A table nobody read or computed is not sent: zeros over the controller's table would leave it
// without a temperature.
constexpr const char* kNothingToWrite =
    "Таблица не записана: она не считана и не рассчитана. Нажмите \"Загрузить\" или "
    "\"Пересчитать\"";
constexpr const char* kBadModel = "Неправильно введены данные термистора: ";
constexpr const char* kBadNumber = "Неправильно введено число в поле ";

} // namespace

TabTemperatureTbl::TabTemperatureTbl(Session& session, QWidget* parent)
    : Page(session, parent), ui(std::make_unique<Ui::TabTemperatureTbl>()) {
    ui->setupUi(this);
    NameInputsByLabels(this);
    ui->sgTblT->setAccessibleName(QStringLiteral("Таблица температуры"));
    ui->sgTblT->setRowCount(temp::kEntryCount);
    ui->sgTblT->setColumnCount(3);
    ui->sgTblT->verticalHeader()->hide();
    ui->sgTblT->verticalHeader()->setMinimumSectionSize(1);
    ui->sgTblT->verticalHeader()->setDefaultSectionSize(ui->sgTblT->fontMetrics().height() + 6);
    ui->sgTblT->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->bRecalcTblT->setEnabled(false);

    const QString comma = kDigits + QLatin1Char(',');
    for (auto [edit, keys] :
         {std::pair{ui->eRn, comma}, std::pair{ui->eB, kDigits}, std::pair{ui->eTn, comma}}) {
        edit->setMaxLength(9);
        auto* filter = new CharKeyFilter(edit, keys);
        filter->SetOnAccepted([this, e = edit] { FollowModelKey(e); });
    }
    connect(ui->bRecalcTblT, &QPushButton::clicked, this, &TabTemperatureTbl::bRecalcTblTClick);
    connect(ui->bReadTblT, &QPushButton::clicked, this, &TabTemperatureTbl::bReadTblTClick);
    connect(ui->bWriteTblT, &QPushButton::clicked, this, &TabTemperatureTbl::bWriteTblTClick);
}

TabTemperatureTbl::~TabTemperatureTbl() = default;

void TabTemperatureTbl::PageShown() {
    const int width = ui->sgTblT->viewport()->width() / 3 - 1;
    for (int c = 0; c < 3; ++c) ui->sgTblT->setColumnWidth(c, width);
    ui->sgTblT->setHorizontalHeaderLabels({QStringLiteral("Температура (T) ['C]"),
                                           QStringLiteral("Сопротивление (Rt) [KOм]"),
                                           QStringLiteral("Показание ацп (A) [Hex] ")});
    ui->bReadTblT->setEnabled(true);
    ui->bWriteTblT->setEnabled(true);
}

void TabTemperatureTbl::FollowModelKey(const QObject* typedIn) {
    bool othersFilled = true;
    for (const QLineEdit* e : {ui->eRn, ui->eB, ui->eTn})
        if (e != typedIn && e->text().isEmpty()) othersFilled = false;
    ui->bRecalcTblT->setEnabled(othersFilled);
}

void TabTemperatureTbl::SetRow(int k, int degrees, const QString& resistance, uint16_t adc) {
    const QString texts[3] = {QString::number(degrees), resistance,
                              QString::fromStdString(FormatTempAdc(adc))};
    for (int c = 0; c < 3; ++c) ui->sgTblT->setItem(k, c, new QTableWidgetItem(texts[c]));
}

void TabTemperatureTbl::bRecalcTblTClick() {
    // A text that is not a number stops the computation with the field's name.
    double values[3] = {};
    const std::pair<const QLineEdit*, const QLabel*> fields[3] = {
        {ui->eRn, ui->lRn}, {ui->eB, ui->lB}, {ui->eTn, ui->lTn}};
    for (int i = 0; i < 3; ++i) {
        if (!ParseThermistorNumber(fields[i].first->text().toStdString(), values[i])) {
            session_.Ask().Message(this, QString::fromUtf8(kBadNumber) + fields[i].second->text());
            return;
        }
    }
    TempTableRows rows;
    const TempCalcResult rc = ComputeTempTable(values[0], values[1], values[2], rows);
    if (rc == TempCalcResult::BadTemperature) {
        session_.Ask().Message(this, QString::fromUtf8(kTempCalcBadTemperatureText));
        return;
    }
    if (rc != TempCalcResult::Ok) {
        session_.Ask().Message(this, QString::fromUtf8(kBadModel) + ui->lRn->text());
        return;
    }
    for (int k = 0; k < temp::kEntryCount; ++k) {
        const TempTableRow& r = rows[static_cast<size_t>(k)];
        SetRow(k, r.degrees, QString::fromStdString(FormatTempResistance(r.resistanceKOhm)), r.adc);
    }
    // A computed table is what "Записать" sends, as a read one would be.
    HeldRecord<TempTable>& held = session_.Model().Temperatures();
    held.working = TempTableFromRows(rows);
    held.wasRead = true;
}

void TabTemperatureTbl::bReadTblTClick() {
    if (session_.Store().IsDemo()) {
        session_.SetStatus(QString::fromUtf8(kDemo));
        return;
    }
    session_.SetStatus(QString());
    session_.RepaintStatus();
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    if (session_.ExchangeFor([&] { return ReadModelTemperatures(model, store); }) !=
        ReadResult::Read) {
        session_.SetStatus(QString::fromUtf8(kNotRead));
        return;
    }
    const TempTable& read = model.Temperatures().read;
    for (int k = 0; k < temp::kEntryCount; ++k)
        SetRow(k, temp::EntryDegrees(k), QStringLiteral("---"), read.Entry(k));
    session_.SetStatus(QString::fromUtf8(kRead));
}

void TabTemperatureTbl::bWriteTblTClick() {
    if (session_.Store().IsDemo()) {
        session_.SetStatus(QString::fromUtf8(kDemo));
        return;
    }
    session_.SetStatus(QString());
    session_.RepaintStatus();
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    const WriteResult rc =
        session_.ExchangeFor([&] { return WriteModelTemperatures(model, store); });
    const char* text = rc == WriteResult::Written   ? kWritten
                       : rc == WriteResult::NotRead ? kNothingToWrite
                                                    : kNotWritten;
    session_.SetStatus(QString::fromUtf8(text));
}

} // namespace velmar::ui
