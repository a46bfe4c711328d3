#include "ui/pages/ident_service_tools.h"

#include "data/fiscal_listing.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "ui/session.h"
#include "ui_tab_ident.h"

#include <array>

namespace velmar::ui {

namespace {

constexpr const char* kRegistersFailed = "Ошибка чтения регистров";
constexpr const char* kTemperatureFailed = "Ошибка чтения температуры";
constexpr const char* kDemoStatus = "Демонстарционная версия программы";
constexpr const char* kWriteDone = "Запись завершена успешно";
constexpr const char* kWriteError = "Ошибка";
constexpr uint8_t kTableFitCommand = 0xA0;

QString Hex2(uint8_t b) {
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

IdentServiceTools::IdentServiceTools(Session& session, Ui::TabIdent& form, QWidget* page)
    : QObject(page), session_(session), ui_(form), page_(page) {
    ui_.lTemperature->setText(QStringLiteral("показания температуры "));
    ui_.rbStandartTablo->setChecked(true);
    ui_.TestEdit->setText(QStringLiteral("00"));
    ui_.TestEdit->setAccessibleName(ui_.TestButton->text());
    ui_.mIRsValue->setAccessibleName(ui_.bIrValRead->text());
    // The table-fitting pair is for the controller's makers; --service shows it.
    ui_.TestEdit->setVisible(session_.Options().serviceMode);
    ui_.TestButton->setVisible(session_.Options().serviceMode);

    connect(ui_.bIrValRead, &QPushButton::clicked, this, &IdentServiceTools::bIrValReadClick);
    connect(ui_.bReadTemper, &QPushButton::clicked, this, &IdentServiceTools::bReadTemperClick);
    connect(ui_.bLoadFisk, &QPushButton::clicked, this, &IdentServiceTools::bLoadFiskClick);
    connect(ui_.bSetTabloTest, &QPushButton::clicked, this, &IdentServiceTools::bSetTabloTestClick);
    connect(ui_.TestButton, &QPushButton::clicked, this, &IdentServiceTools::TestButtonClick);
}

void IdentServiceTools::bIrValReadClick() {
    ui_.mIRsValue->clear();
    uint8_t status = 0;
    if (!session_
             .ExchangeFor(
                 [&] { return session_.Store().Read(addr::kStatusIR, 1, &status, kSpaceIR); })
             .Gave(1)) {
        session_.SetStatus(QString::fromUtf8(kRegistersFailed));
        return;
    }
    ui_.mIRsValue->appendPlainText(QStringLiteral("IR 24h = ") + Hex2(status));
    std::array<uint8_t, 3> run{};
    if (!session_
             .ExchangeFor(
                 [&] { return session_.Store().Read(addr::kRunRegsIR, 3, run.data(), kSpaceIR); })
             .Gave(3)) {
        session_.SetStatus(QString::fromUtf8(kRegistersFailed));
        return;
    }
    const char* names[3] = {"IR 28h = ", "IR 29h = ", "IR 2Ah = "};
    for (size_t i = 0; i < run.size(); ++i)
        ui_.mIRsValue->appendPlainText(QString::fromLatin1(names[i]) + Hex2(run[i]));
}

void IdentServiceTools::bReadTemperClick() {
    std::array<uint8_t, 3> adc{};
    const int rc = session_.Exchange(
        [&] { return ReadTempAdc(session_.Slot(), session_.Address(), adc.data()) ? 1 : -1; });
    if (rc != 1) {
        session_.SetStatus(QString::fromUtf8(kTemperatureFailed));
        ui_.lTemperature->setText(QString::fromUtf8(kTemperatureFailed));
        return;
    }
    // The 16-bit reading high byte first, then the controller's own degrees (signed).
    ui_.lTemperature->setText(QStringLiteral("АЦП Т = 0x") + Hex2(adc[1]) + Hex2(adc[0]) +
                              QStringLiteral(". Т = ") +
                              QString::number(static_cast<int8_t>(adc[2])));
}

void IdentServiceTools::bLoadFiskClick() {
    if (session_.Store().IsDemo()) {
        ui_.mIdent->appendPlainText(QString::fromUtf8(kFiscalDemoText));
        return;
    }
    std::vector<std::string> lines;
    const FiscalListResult rc =
        session_.LongExchange(QStringLiteral("Чтение фискальных сумматоров"), kChannelCount,
                              Cancel::Allowed, [&](ExchangeProgress& p) {
                                  return ReadFiscalLines(session_.Store(), lines, [&p](int done) {
                                      p.Step(done);
                                      return !p.Cancelled();
                                  });
                              });
    if (rc == FiscalListResult::Cancelled) {
        session_.SetStatus(QStringLiteral("Чтение фискальных сумматоров прервано"));
        return;
    }
    if (rc != FiscalListResult::Listed) {
        session_.SetStatus(QString::fromUtf8(kFiscalReadFailedText));
        return;
    }
    for (const std::string& line : lines) ui_.mIdent->appendPlainText(QString::fromStdString(line));
    session_.SetStatus(QString::fromUtf8(kFiscalReadText));
}

void IdentServiceTools::bSetTabloTestClick() {
    if (session_.Store().IsDemo()) {
        session_.SetStatus(QString::fromUtf8(kDemoStatus));
        return;
    }
    const std::array<const QRadioButton*, 4> modes{ui_.rbStandartTablo, ui_.rbCapacityTablo,
                                                   ui_.rbTestTablo, ui_.rbFiskTablo};
    int mode = -1;
    for (size_t i = 0; i < modes.size(); ++i)
        if (modes[i]->isChecked()) mode = static_cast<int>(i);
    if (mode < 0) {
        session_.SetStatus(QString::fromUtf8(kWriteError));
        return;
    }
    const uint8_t byte = static_cast<uint8_t>(mode);
    const StoreResult rc = session_.ExchangeFor(
        [&] { return session_.Store().Write(addr::kTempAdcIR, 1, &byte, kSpaceIR); });
    session_.SetStatus(QString::fromUtf8(rc.Ok() ? kWriteDone : kWriteError));
}

// Steps the controller through the values 0..254 of its table fitting, one per click.
void IdentServiceTools::TestButtonClick() {
    bool ok = false;
    const uint value = ui_.TestEdit->text().toUInt(&ok);
    // A text that is not a byte value is not sent as some other byte.
    if (!ok || value > 255) {
        session_.SetStatus(QString::fromUtf8(kWriteError));
        return;
    }
    const std::array<uint8_t, 2> bytes{kTableFitCommand, static_cast<uint8_t>(value)};
    const StoreResult rc = session_.ExchangeFor(
        [&] { return session_.Store().Write(addr::kRunRegsIR, 2, bytes.data(), kSpaceIR); });
    if (!rc.Ok()) {
        session_.SetStatus(QString::fromUtf8(kWriteError));
        return;
    }
    session_.SetStatus(QString::fromUtf8(kWriteDone));
    ui_.TestEdit->setText(QString::number(value + 1 >= 255 ? 0 : value + 1));
}

} // namespace velmar::ui
