#include "ui/pages/channel_page.h"

#include "data/channel_io.h"
#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "ui/session.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>

namespace velmar::ui {

namespace {

constexpr const char* kParamsNotRead = "Ошибка. Не считаны параметры ТРК";
constexpr const char* kBadChannel = "Ошибка номера канала";
constexpr const char* kSaveFailed = "Ошибка записи";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kSizesFailed = "Ошибка чтения размеров параметров";
constexpr const char* kWriteFailedBox = "Ошибка записи!";
constexpr const char* kDemoWriteFailed = "Ошибка записи демонстрационного образа demo_trk.bin";
constexpr const char* kUnsavedQuestion =
    "Данные о состоянии были изменены, но не записаны в контроллер!\n"
    "Вы хотите сохранить данные в контроллер";

} // namespace

ChannelPage::ChannelPage(Session& session, QWidget* parent) : Page(session, parent) {}

void ChannelPage::Wire(QComboBox* list, QPushButton* read, QPushButton* save) {
    list_ = list;
    save_ = save;
    save_->setEnabled(false);
    // Choosing the channel shown again reads it again, as the button does.
    connect(list_, &QComboBox::activated, this, &ChannelPage::ChannelChosen);
    connect(read, &QPushButton::clicked, this, &ChannelPage::ReadClick);
    connect(save, &QPushButton::clicked, this, &ChannelPage::SaveClick);
}

bool ChannelPage::ReadRecord(int n, const std::function<ReadResult()>& read, const char* failed) {
    if (!CheckChannelNumber(n)) return false;
    if (session_.ExchangeFor(read) != ReadResult::Read) {
        Report(failed);
        return false;
    }
    return true;
}

ChannelResult ChannelPage::WriteRecord(int attempts, const std::function<WriteResult()>& write,
                                       const char* written) {
    const bool demo = session_.Store().IsDemo();
    for (int attempt = 0; attempt < (demo ? 1 : attempts); ++attempt) {
        switch (session_.ExchangeFor(write)) {
        case WriteResult::NoChanges:
            SetStatusText(kNoChanges);
            return ChannelResult::Done;
        case WriteResult::Written:
            SetStatusText(written);
            return ChannelResult::Done;
        case WriteResult::SizesFailed:
            Report(kSizesFailed);
            return ChannelResult::Failed;
        default:
            ShowMessage(kWriteFailedBox);
            break;
        }
    }
    SetStatusText(demo ? kDemoWriteFailed : kSaveFailed);
    return ChannelResult::Failed;
}

void ChannelPage::PageShown() {
    const HeldRecord<CtrlrParams>& params = session_.Model().Params();
    if (!params.wasRead) {
        ShowMessage(kParamsNotRead);
        SetStatusText(kParamsNotRead);
        setEnabled(false);
        return;
    }
    setEnabled(true);
    // Unsaved edits of the parameter tab are dropped: the channel list follows the block as the
    // controller holds it.
    session_.Model().Params().Revert();

    {
        const QSignalBlocker block(list_);
        list_->clear();
        for (const std::string& text :
             ChannelListTexts(params.read.CountSideTrk(), params.read.CountNozTrk()))
            list_->addItem(QString::fromStdString(text));
    }
    save_->setEnabled(false);
    if (list_->count() == 0) return;
    {
        const QSignalBlocker block(list_);
        list_->setCurrentIndex(0);
    }
    ReadAndEnable(0);
}

void ChannelPage::ChannelChosen(int item) {
    if (item < 0) return;
    const int previous = ChannelShown();
    if (previous >= 0 && previous != item && Unsaved() &&
        session_.Ask().Warn(this, QString::fromUtf8(kUnsavedQuestion))) {
        const ChannelResult saved = SaveChannel(previous);
        AfterSave();
        if (saved != ChannelResult::Done) {
            // The edits were not written: the list goes back to their channel, so that they are
            // not replaced by the next channel's record and the question comes again.
            const QSignalBlocker block(list_);
            list_->setCurrentIndex(previous);
            return;
        }
    }
    ReadAndEnable(item);
}

int ChannelPage::ChannelShown() const {
    return shownGeneration_ == session_.Model().Generation() ? channelShown_ : -1;
}

void ChannelPage::SetChannelShown(int n) {
    channelShown_ = n;
    shownGeneration_ = session_.Model().Generation();
}

void ChannelPage::ReadClick() {
    ReadAndEnable(list_->currentIndex());
}

void ChannelPage::ReadAndEnable(int n) {
    const bool read = ReadChannel(n) == ChannelResult::Done;
    save_->setEnabled(read);
    // The fields still hold the channel shown before: the list names that channel again.
    const int shown = ChannelShown();
    if (!read && shown >= 0 && shown != list_->currentIndex()) {
        const QSignalBlocker block(list_);
        list_->setCurrentIndex(shown);
    }
}

void ChannelPage::SaveClick() {
    session_.SetStatus(QString());
    if (SaveChannel(ChannelShown()) == ChannelResult::Failed) {
        ShowMessage(kSaveFailed);
        // A demo image that could not be written is unchanged in memory: identifying it again
        // would only wipe the status line that says so.
        if (!session_.Store().IsDemo()) {
            session_.ShowMainTab();
            session_.RequestReident(Reident::WriteFailedOrSpeed);
            session_.RequestRepaint();
        }
    }
    AfterSave();
}

bool ChannelPage::CheckChannelNumber(int n) {
    if (ChannelNumberValid(n)) return true;
    Report(kBadChannel);
    return false;
}

void ChannelPage::ShowMessage(const char* text) {
    session_.Ask().Message(this, QString::fromUtf8(text));
}

void ChannelPage::SetStatusText(const char* text) {
    session_.SetStatus(QString());
    session_.RepaintStatus();
    session_.SetStatus(QString::fromUtf8(text));
}

void ChannelPage::Report(const char* text) {
    ShowMessage(text);
    SetStatusText(text);
}

} // namespace velmar::ui
