// Writing the controller settings tab's block back: refused while anything is marked, a new
// side address confirmed first, the outcome reported and the controller identified again where
// the write asks for it.
#include "data/params_write.h"
#include "ui/fields/warning_texts.h"
#include "ui/pages/tab_ctrlr_setts.h"
#include "ui/port_config.h"
#include "ui/session.h"

namespace velmar::ui {

namespace {

constexpr const char* kFixErrors = "Запись не произведена. Исправьте ошибку и повторите попытку";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kWriteFailed = "Ошибка записи!";
constexpr const char* kChannelWriteFailed = "Ошибка записи параметров канала";
constexpr const char* kWritten = "Параметры успешно записаны";
constexpr const char* kRestartFailed =
    "Параметры записаны, но контроллер не ответил на команду рестарта";
constexpr const char* kPortFailed = "Параметры записаны, но порт не переключен на скорость ";
constexpr const char* kAddressLabel = "Работа с Адресом №";

} // namespace

void TabCtrlrSetts::bSetParamClick() {
    // A red control on this page also stops the write when a read elsewhere reset the count.
    if (entry_.invalidFieldCount != 0 || CountMarked() != 0 || !PackGrids()) {
        SetStatusText(kFixErrors);
        return;
    }
    const bool demo = session_.Store().IsDemo();
    int newAddress = session_.Address();
    Work().UpdateKsm();
    const bool newSpeed = Work().SpeedTrk() != Read().SpeedTrk();
    if (newSpeed) session_.RequestReident(Reident::WriteFailedOrSpeed);

    if (!demo && Work().AdrTrk_1() != Read().AdrTrk_1()) {
        session_.RequestReident(Reident::SideAddress);
        newAddress = Work().AdrTrk_1();
        if (!NewAddressConfirmed()) {
            // Nothing is written; the identification already requested runs as the window
            // repaints after the question.
            session_.RequestRepaint();
            return;
        }
    }

    const int addressBefore = session_.Address();
    const ParamsWriteOutcome out = session_.WriteParamsAndFollow(newAddress, newSpeed);
    switch (out.result) {
    case ParamsWriteResult::NotRead:
    case ParamsWriteResult::SizesFailed:
    case ParamsWriteResult::WriteFailed:
        WriteFailed(QString::fromUtf8(kWriteFailed));
        return;
    case ParamsWriteResult::RestartFailed:
        WriteFailed(QString::fromUtf8(
            out.restart != RestartSeen::Answered ? RestartSeenText(out.restart) : kRestartFailed));
        return;
    case ParamsWriteResult::PortFailed:
        WriteFailed(WithPortErrorReason(QString::fromUtf8(kPortFailed) +
                                            QString::number(kSpeedBauds[Work().SpeedTrk()]),
                                        out.port));
        return;
    case ParamsWriteResult::ChannelsFailed:
        ShowAddressIfChanged(addressBefore);
        WriteFailed(QString::fromUtf8(kChannelWriteFailed));
        return;
    case ParamsWriteResult::NoChanges:
        SetStatusText(kNoChanges);
        break;
    case ParamsWriteResult::Written:
        ShowAddressIfChanged(addressBefore);
        break;
    }

    // Identification runs again at the new address once the window applies its repaint rules,
    // after this write has reported.
    const bool reident = session_.AnyReidentRequested();
    if (reident) {
        session_.SetAddress(newAddress);
        session_.ShowMainTab();
    }
    if (out.result == ParamsWriteResult::Written) {
        SetStatusText(kWritten);
        // The engineer learns that the restart was not confirmed, and where the controller is.
        if (out.restart != RestartSeen::Answered) ShowMessage(RestartSeenText(out.restart));
    }
    if (reident) session_.RequestRepaint();
}

// A new side-A address with one side: when another controller already answers there, the
// engineer is warned and may decline. True to go on with the write.
bool TabCtrlrSetts::NewAddressConfirmed() {
    if (Work().CountSideTrk() != 1) return true;
    const PortSlot slot = session_.Slot();
    const CtrlrParams block = Work();
    const bool inUse =
        session_.Exchange([slot, &block] { return SideAddressInUse(slot, block); }) != 0;
    return !inUse || session_.Ask().Warn(this, QString::fromUtf8(kAddressInUse));
}

// A write failed: reported, and the controller is identified again from the main tab.
void TabCtrlrSetts::WriteFailed(const QString& text) {
    Report(text);
    session_.RequestReident(Reident::WriteFailedOrSpeed);
    session_.ShowMainTab();
    session_.RequestRepaint();
}

// The number label follows the address the written block took into use.
void TabCtrlrSetts::ShowAddressIfChanged(int before) {
    if (session_.Address() != before)
        session_.SetNumberLabel(QString::fromUtf8(kAddressLabel) +
                                QString::number(session_.Address()));
}

} // namespace velmar::ui
