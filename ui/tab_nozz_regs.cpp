#include "ui/tab_nozz_regs.h"

#include "data/channel_io.h"
#include "data/field_bindings.h"
#include "data/field_entry.h"
#include "data/read_checks.h"
#include "ui/field_binder.h"
#include "ui/session.h"
#include "ui_tab_nozz_regs.h"

#include <QListWidget>
#include <QSignalBlocker>

namespace velmar::ui {

namespace {

constexpr const char* kReadFailed = "Ошибка чтения состояния канала";
constexpr const char* kRead = "Состояние канала считано";
constexpr const char* kNoChanges = "Запись не произведена. Не было изменений параметров";
constexpr const char* kSizesFailed = "Ошибка чтения размеров параметров";
constexpr const char* kAttemptFailed = "Ошибка записи!";
constexpr const char* kWriteFailed = "Ошибка записи";
constexpr const char* kDemoWriteFailed = "Ошибка записи демонстрационного образа demo_trk.bin";
constexpr const char* kWritten = "Состояние канала записано";

constexpr int kWriteAttempts = 3;

} // namespace

TabNozzRegs::TabNozzRegs(Session& session, QWidget* parent)
    : ChannelPage(session, parent), ui(std::make_unique<Ui::TabNozzRegs>()),
      binder_(new FieldBinder(session, this)) {
    ui->setupUi(this);

    for (const char* text : regs::kStateTexts) ui->cbState->addItem(QString::fromUtf8(text));
    for (const char* text : regs::kBitStatTexts) {
        auto* item = new QListWidgetItem(QString::fromUtf8(text), ui->checkBitStat);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    // Two columns of five items.
    QListWidget* bits = ui->checkBitStat;
    bits->setFlow(QListView::TopToBottom);
    bits->setWrapping(true);
    bits->setResizeMode(QListView::Adjust);
    bits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bits->setFixedHeight(5 * bits->sizeHintForRow(0) + 2 * bits->frameWidth() + 2);

    binder_->Bind(ui->eSetVol, bind::eSetVol, regs_);
    binder_->Bind(ui->eSetSum, bind::eSetSum, regs_);
    binder_->Bind(ui->eLoadVol, bind::eLoadVol, regs_);
    binder_->Bind(ui->eLoadVolLo, bind::eLoadVolLo, regs_);
    binder_->Bind(ui->eKVol, bind::eKVol, regs_);
    binder_->Bind(ui->eKVolLo, bind::eKVolLo, regs_);
    binder_->Bind(ui->eLastVol, bind::eLastVol, regs_);
    binder_->Bind(ui->ePrice, bind::ePrice, regs_);
    binder_->Bind(ui->eVolStart, bind::eVolStart, regs_);
    binder_->Bind(ui->eVolEnd, bind::eVolEnd, regs_);
    binder_->Bind(ui->eDCount, bind::eDCount, regs_);
    binder_->Bind(ui->eFCount, bind::eFCount, regs_);
    binder_->Bind(ui->eFCMil, bind::eFCMil, regs_);
    binder_->Bind(ui->eLCount, bind::eLCount, regs_);
    binder_->Bind(ui->eSCount, bind::eSCount, regs_);
    binder_->Bind(ui->eBCount, bind::eBCount, regs_);
    binder_->Bind(ui->eMCount, bind::eMCount, regs_);
    binder_->Bind(ui->eBitStatHex, bind::eBitStatHex, regs_, [this] { ShowBitStat(); });

    connect(ui->cbState, &QComboBox::currentIndexChanged, this, &TabNozzRegs::cbStateChange);
    connect(ui->checkBitStat, &QListWidget::itemChanged, this,
            &TabNozzRegs::checkBitStatClickCheck);
    Wire(ui->cbNumCnl, ui->bCallNozRegs, ui->bSaveNozRegs);
}

TabNozzRegs::~TabNozzRegs() = default;

int TabNozzRegs::ReadChannel(int n) {
    if (!CheckChannelNumber(n)) return -1;
    ChannelRegs read;
    RecordStore& store = session_.Store();
    if (session_.Exchange([&] { return ReadChannelRecord(store, kRegsRecord, n, read.data()); }) !=
        kChannelOk) {
        Report(kReadFailed);
        return -1;
    }
    SetChannelShown(n);
    shadow_ = read;
    regs_ = read;
    const std::vector<Repair> repairs = CheckRegsOnRead(regs_);

    binder_->ShowAll();
    {
        const QSignalBlocker block(ui->cbState);
        ui->cbState->setCurrentIndex(regs::StateItem(regs_.State()));
    }
    // A status read as 0xFFFF is shown as read but leaves the list as it was and 0 in the
    // working copy.
    ui->eBitStatHex->setText(QString::fromStdString(Hex4(shadow_.BitStat())));
    for (const Repair& repair : repairs) ShowMessage(repair.message.c_str());
    if (repairs.empty()) ShowBitStat();

    session_.fieldEntry.invalidFieldCount = 0;
    SetStatusText(kRead);
    return 1;
}

int TabNozzRegs::SaveChannel(int n) {
    if (!CheckChannelNumber(n)) return -1;
    if (!Unsaved()) {
        SetStatusText(kNoChanges);
        return 0;
    }
    RecordStore& store = session_.Store();
    const ChannelRegs out = regs_;
    // The demo image is written once; a controller gets up to three attempts.
    const int attempts = store.IsDemo() ? 1 : kWriteAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int rc = session_.Exchange(
            [&] { return WriteChannelRecord(store, kRegsRecord, n, out.data()); });
        if (rc == kChannelOk) {
            shadow_ = out;
            SetStatusText(kWritten);
            return 0;
        }
        if (rc == kChannelSizesFailed) {
            Report(kSizesFailed);
            return -1;
        }
        ShowMessage(kAttemptFailed);
    }
    SetStatusText(store.IsDemo() ? kDemoWriteFailed : kWriteFailed);
    return -1;
}

void TabNozzRegs::cbStateChange(int item) {
    if (item >= 0) regs_.SetState(static_cast<uint8_t>(regs::StateCode(item)));
}

void TabNozzRegs::checkBitStatClickCheck() {
    // Items in order 0..9: items 6 and 7 share bit 2, so item 7's check decides it.
    uint16_t bits = regs_.BitStat();
    for (int i = 0; i < ui->checkBitStat->count(); ++i) {
        const auto bit =
            static_cast<uint16_t>(1u << regs::kBitStatItemBits[static_cast<size_t>(i)]);
        if (ui->checkBitStat->item(i)->checkState() == Qt::Checked) {
            bits |= bit;
        } else {
            bits &= static_cast<uint16_t>(~bit);
        }
    }
    regs_.SetBitStat(bits);
    binder_->Show(ui->eBitStatHex);
}

void TabNozzRegs::ShowBitStat() {
    const QSignalBlocker block(ui->checkBitStat);
    const uint16_t bits = regs_.BitStat();
    for (int i = 0; i < ui->checkBitStat->count(); ++i) {
        const bool on = (bits >> regs::kBitStatItemBits[static_cast<size_t>(i)]) & 1u;
        ui->checkBitStat->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace velmar::ui
