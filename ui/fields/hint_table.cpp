#include "ui/fields/hint_table.h"

#include <QAbstractButton>
#include <QHash>
#include <QVariant>
#include <QWidget>

namespace velmar::ui {

namespace {

constexpr const char* kReadHint = "Прочитать текущие настройки устройства";
constexpr const char* kWriteHint = "Записать настройки в устройство";

} // namespace

const std::vector<HintRow>& HintTable() {
    static const std::vector<HintRow> table = {
        // Main tab.
        {"TabIdent", {"bCallIdent"}, "Запросить идентификатор устройства"},
        {"TabIdent", {"bGlobalSet"}, "Общая настройка устройства, со сбросом неосновных настроек"},
        {"TabIdent",
         {"bGlobalDefaultSet"},
         "Сброс параметров устройства к параметрам по умолчанию.\r Внимание! Фискальные сумматоры "
         "будут сброшены!"},
        {"TabIdent", {"bReset"}, "\"Теплый\" перезапуск устройства"},
        {"TabIdent", {"bFindCtrlr"}, "Автоматический поиск подключенных устройств"},
        {"TabIdent", {"bSaveImage"}, "Считать настройки устройства и записать их в файл"},
        {"TabIdent",
         {"bLoadImage"},
         "Считать файл образа устройства(параметры в бинарном виде)\r и записать его в устройство"},
        {"TabIdent", {"bLoadFisk"}, "Вывести на экран текущие фискальные сумматоры"},
        {"TabIdent", {"bSimImp"}, "Включить имитатор импульсов устройства"},
        {"TabIdent", {"bSetTabloTest"}, "Установить режим работы табло"},
        {"TabIdent", {"bIrValRead"}, "Прочитать температурные регистры устройства"},
        {"TabIdent",
         {"bReadTemper"},
         "Считать текущую температуру устройства,\rтребуется заполненная таблица температур"},
        {"TabIdent",
         {"bReservCall"},
         "Связаться с устройством по резервному адресу. \r  Внимание! Должно быть подключено "
         "только одно устройство"},

        // Controller settings.
        {"TabCtrlrSetts",
         {"cbSpeedTrk", "helpSpeedTrk"},
         "Скорость обмена с первой платой устройства"},
        {"TabCtrlrSetts",
         {"cbSpeed2CnlTrk", "helpSpeed2CnlTrk"},
         "Скорость обмена со второй платой устройства"},
        {"TabCtrlrSetts",
         {"cbCountSideTrk", "helpCountSideTrk"},
         "Количество обслуживаемых устройством сторон ТРК"},
        {"TabCtrlrSetts",
         {"cbCountNozTrk", "helpCountNozTrk"},
         "Количество обслуживаемых устройством\rраздаточных рукавов с одной стороны ТРК"},
        {"TabCtrlrSetts",
         {"cbMeterType", "helpMeterType"},
         "Количество импульсов на литр датчика расходомера.\r- 100 импульсов на литр \r- 256 "
         "импульсов на литр \r -Ручное(отдельно для каждого раздаточного рукава, устанавливается "
         "в \"Настройках канала\")"},
        {"TabCtrlrSetts", {"cbTypeTbl", "helpTypeTbl"}, "Тип табло"},
        {"TabCtrlrSetts",
         {"cbPhaseMet", "helpPhaseMet"},
         "Параметр пересчета импульсов датчика расходомера.\r- Одна фаза(1) - пересчет по первой "
         "фазе, вторая игнорируется\r- Две фазы - пересчет по обеим фазам\r- Одна фаза(2) - "
         "пересчет по второй фазе, первая игнорируется\r- Ручной режим - отдельно для каждого "
         "раздачтоного рукава, устанавливается в \"Настройках канала\""},
        {"TabCtrlrSetts",
         {"eImp_len", "helpImp_len"},
         "Минимальная длительность импульса датчика расходомера"},
        {"TabCtrlrSetts",
         {"eNozzleWait", "helpNozzleWait"},
         "Пауза в секундах перед запуском двигателя ТРК"},
        {"TabCtrlrSetts",
         {"eNozzleFat", "helpNozzleFat"},
         "Компенсация раздутия шланга - неотображаемая на табло доза в начале отпуска в "
         "милилитрах"},
        {"TabCtrlrSetts",
         {"eSlowStart", "helpSlowStart"},
         "Доза отпускаемая в режиме малой производительности в начале отпуска в милилитрах"},
        {"TabCtrlrSetts",
         {"eMetTOut", "helpMetTOut"},
         "Время ожидание счетных импульсов от датчика расходомера в секундах"},
        {"TabCtrlrSetts",
         {"eSlowLoad", "helpSlowLoad"},
         "Доза, которая будет отпущена в режиме малой производительности при окончании отпуска "
         "в милилитрах"},
        {"TabCtrlrSetts", {"eAdrTrk_1"}, "Адрес первой стороны ТРК"},
        {"TabCtrlrSetts", {"eAdrTrk_2"}, "Адрес второй стороны ТРК"},
        {"TabCtrlrSetts",
         {"sgAdrNaraTrk_1", "sgAdrNaraTrk_2"},
         "Адреса раздаточных рукавов для протокола Нара-Азс"},
        {"TabCtrlrSetts",
         {"sgPhysToLogTrk_1", "sgPhysToLogTrk_2"},
         "Соответствие физического адреса раздаточного рукава логическому"},
        {"TabCtrlrSetts", {"checkbTrkModes", "eBitMaskHex"}, "Битовая маска параметров устройства"},
        {"TabCtrlrSetts", {"bGetParam"}, kReadHint},
        {"TabCtrlrSetts", {"bSetParam"}, kWriteHint},

        // Advanced settings.
        {"TabAdvSet",
         {"eMinSpeed", "helpMinSpeed"},
         "Величина минимальной производительности ТРК, измеряемая в литрах в минуту.\rЕсли за "
         "время работы с минимальной производительностью,\rпроизводительность ТРК ниже этого "
         "значения - отпуск будет остановлен"},
        {"TabAdvSet",
         {"eShimDuration", "helpShimDuration"},
         "Длительность периода ШИМ для управления клапаном\rдля Wayne Dresser (2..19 мс)"},
        {"TabAdvSet",
         {"ePcTimeout", "helpPcTimeout"},
         "Время в секундах после которого на табло устройства появится ошибка и прекратится "
         "отпуск \rпри потери связи с системой управления"},
        {"TabAdvSet",
         {"eHydroHit", "helpHydroHit"},
         "Защита от гидроудара: доза в милилитрах, отпускаемая с малой производительностью "
         "после открытия клапана"},
        {"TabAdvSet",
         {"eMinSpTime", "helpMinSpTime"},
         "Время в секундах, в течение которого производительность ТРК может быть ниже "
         "минимальной"},
        {"TabAdvSet",
         {"eTemp_heat_low", "helpTemp_heat_low"},
         "Температура в градусах, ниже которой включается обогрев устройства"},
        {"TabAdvSet",
         {"eTemp_heat_high", "helpTemp_heat_high"},
         "Температура в градусах, выше которой обогрев устройства выключается"},
        {"TabAdvSet", {"bTestReleT"}, "Проверить реле обогрева устройства"},
        {"TabAdvSet",
         {"eMinVolNara", "helpMinVolNara"},
         "Минимальная доза отпуска для протокола Нара-Азс в литрах"},
        {"TabAdvSet",
         {"eStWaitForceNara", "helpStWaitForceNara"},
         "Время ожидания принудительного старта для протокола Нара-Азс в секундах"},
        {"TabAdvSet",
         {"ePbTimeoutNara", "helpPbTimeoutNara"},
         "Время ожидания ответа системы управления для протокола Нара-Азс в секундах"},
        {"TabAdvSet",
         {"eUpgrCountNara", "helpUpgrCountNara"},
         "Число повторов обновления данных для протокола Нара-Азс"},
        {"TabAdvSet",
         {"eStopTimeNara", "helpStopTimeNara"},
         "Время остановки отпуска для протокола Нара-Азс в секундах"},
        {"TabAdvSet",
         {"eYPasswNara", "helpYPasswNara"},
         "Пароль системы управления для протокола Нара-Азс"},
        {"TabAdvSet", {"bGetAdvSetTrk"}, kReadHint},
        {"TabAdvSet", {"bSetAdvSetTrk"}, kWriteHint},
        {"TabAdvSet",
         {"eBmuPAdm", "helpBmuPAdm"},
         "Пароль администратора местного пульта управления"},
        {"TabAdvSet",
         {"cbBmuPUser", "helpBmuPUser"},
         "Права пользователя местного пульта управления"},

        // Channel registers.
        {"TabNozzRegs", {"cbNumCnl"}, "Выбор канала: сторона и раздаточный рукав"},
        {"TabNozzRegs",
         {"eLoadVol", "helpLoadVol"},
         "Отпущенная доза по данному раздаточному рукаву в литрах"},
        {"TabNozzRegs",
         {"eLoadVolLo", "helpLoadVolLo"},
         "Милилитровая часть отпущенной дозы по данному раздаточному рукаву, в hex"},
        {"TabNozzRegs", {"eKVol", "helpKVol"}, "Доза, недолитая при последнем отпуске, в литрах"},
        {"TabNozzRegs",
         {"eKVolLo", "helpKVolLo"},
         "Милилитровая часть дозы, недолитой при последнем отпуске, в hex"},
        {"TabNozzRegs", {"ePrice", "helpPrice"}, "Цена за литр топлива"},
        {"TabNozzRegs", {"eSetVol", "helpSetVol"}, "Заданная доза отпуска в литрах"},
        {"TabNozzRegs", {"eSetSum", "helpSetSum"}, "Заданная сумма отпуска в рублях"},
        {"TabNozzRegs", {"eLastVol", "helpLastVol"}, "Доза последнего отпуска в литрах"},
        {"TabNozzRegs",
         {"eVolStart", "helpVolStart"},
         "Доза в милилитрах, отпускаемая с малой производительностью в начале отпуска"},
        {"TabNozzRegs",
         {"eVolEnd", "helpVolEnd"},
         "Доза в милилитрах, отпускаемая с малой производительностью в конце отпуска"},
        {"TabNozzRegs",
         {"cbState", "checkBitStat", "eBitStatHex"},
         "Состояние раздаточного рукава и битовая маска его состояния"},
        {"TabNozzRegs", {"eDCount", "helpDCount"}, "Дельта-счетчик отпущенного топлива в литрах"},
        {"TabNozzRegs",
         {"eFCount", "eFCMil", "helpFCount"},
         "Фискальный суммарный счетчик отпущенного топлива в литрах и милилитрах"},
        {"TabNozzRegs", {"eLCount", "helpLCount"}, "Суммарный счетчик отпусков, заданных в литрах"},
        {"TabNozzRegs",
         {"eSCount", "helpSCount"},
         "Суммарный счетчик отпусков, заданных в рублях, в литрах"},
        {"TabNozzRegs",
         {"eBCount", "helpBCount"},
         "Суммарный счетчик отпусков с клавиатуры БМУ в литрах"},
        {"TabNozzRegs", {"eMCount", "helpMCount"}, "Суммарный счетчик отпусков в мерник в литрах"},
        {"TabNozzRegs",
         {"eDelryCount", "helpDelryCount"},
         "Счетчик отпусков, завершенных с недоливом"},
        {"TabNozzRegs", {"bCallNozRegs"}, kReadHint},
        {"TabNozzRegs", {"bSaveNozRegs"}, kWriteHint},

        // Channel settings.
        {"TabNozSetts", {"cbNumNozSets"}, "Выбор канала: сторона и раздаточный рукав"},
        {"TabNozSetts", {"eImpLit"}, "Количество импульсов датчика расходомера на литр"},
        {"TabNozSetts",
         {"cbMeterPhaseNozSets"},
         "Параметр пересчета импульсов датчика расходомера для данного рукава"},
        {"TabNozSetts", {"eCountKor"}, "Количество выполненных юстировок раздаточного рукава"},
        {"TabNozSetts",
         {"eImpWHi", "eImpWkHi", "eImpWkLo", "eImpWkWLo", "eImpWLo"},
         "Юстировочный коэфициент"},
        {"TabNozSetts", {"bCallNozSets"}, kReadHint},
        {"TabNozSetts", {"bSaveNozSets"}, kWriteHint},

        // Side state.
        {"TabRegsSides",
         {"eActiveNoz_s1", "eActiveNoz_s2"},
         "Номер активного раздаточного рукава стороны"},
        {"TabRegsSides", {"eCountKor_s1", "eCountKor_s2"}, "Количество юстировок стороны"},
        {"TabRegsSides",
         {"maskDateLastKor_s1", "maskDateLastKor_s2"},
         "Дата последней юстировки стороны"},
        {"TabRegsSides",
         {"eCountTranz_s1", "eCountTranz_s2"},
         "Количество отпусков топлива стороной"},
        {"TabRegsSides", {"bCallRegsSides"}, kReadHint},
        {"TabRegsSides", {"bWriteRegsSides"}, kWriteHint},

        // Temperature table.
        {"TabTemperatureTbl",
         {"sgTblT"},
         "Таблица температур: значение АЦП датчика для каждой температуры"},
        {"TabTemperatureTbl", {"bReadTblT"}, kReadHint},
        {"TabTemperatureTbl", {"bWriteTblT"}, kWriteHint},
        {"TabTemperatureTbl", {"bRecalcTblT"}, "Пересчитать таблицу используя собственные данные"},
        // The station view and its profile apply.
        {"Station",
         {"eStationBackupDir"},
         "Каталог копий станции: в нем \"Сохранить все\" создает новую копию, из него берется "
         "последняя копия каждого контроллера"},
        {"Station", {"bStationScan"}, "Опросить номера 1..31 линии и заново составить список"},
        {"Station",
         {"bStationBackup"},
         "Сохранить образы всех контроллеров списка в новую копию в каталоге копий"},
        {"Station",
         {"bStationVerify"},
         "Считать каждый контроллер и сравнить с его последней копией: число отличающихся полей"},
        {"Station",
         {"bStationOpen"},
         "Работать в окне с выбранным контроллером, как после \"Сменить номер трк\""},
        {"Station",
         {"bStationSaveProfile"},
         "Сохранить параметры выбранного контроллера в файл профиля"},
        {"Station",
         {"bStationApplyProfile"},
         "Показать, что профиль изменит в выбранных контроллерах (во всех, если не выбран ни "
         "один), и по кнопке \"Записать\" записать его"},
        {"Station",
         {"bProfileWrite"},
         "Сохранить каждый контроллер в каталог копий, записать профиль, считать и сравнить; "
         "первая ошибка останавливает запись"},
        {"Station",
         {"bProfileRollback"},
         "Записать в контроллер с ошибкой его копию, сделанную перед записью"},
    };
    return table;
}

namespace {

const QHash<QString, QString>& HintIndex() {
    static const QHash<QString, QString> index = [] {
        QHash<QString, QString> h;
        for (const HintRow& row : HintTable())
            for (const char* control : row.controls)
                h.insert(QString::fromUtf8(control), QString::fromUtf8(row.text));
        return h;
    }();
    return index;
}

constexpr const char* kHintProperty = "velmarHint";
constexpr const char* kHelpBoundProperty = "velmarHelpBound";

} // namespace

QString HintText(const QString& objectName) {
    return HintIndex().value(objectName);
}

QString HintDisplayText(const QString& raw) {
    QString text = raw;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void EnabledHint(QWidget* root, bool on) {
    const auto& index = HintIndex();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const auto it = index.constFind(w->objectName());
        if (it == index.constEnd()) continue;
        w->setProperty(kHintProperty, *it);
        w->setToolTip(on ? HintDisplayText(*it) : QString());
    }
}

void ConnectHelpButtons(QWidget* root, const std::function<void(const QString&)>& show) {
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (!b->objectName().startsWith(QLatin1String("help"))) continue;
        if (b->property(kHelpBoundProperty).toBool()) continue;
        b->setProperty(kHelpBoundProperty, true);
        // helpSpeedTrkClick: every "?" shows the pressing button's own hint.
        QObject::connect(b, &QAbstractButton::clicked, b, [b, show] {
            show(HintDisplayText(b->property(kHintProperty).toString()));
        });
    }
}

} // namespace velmar::ui
