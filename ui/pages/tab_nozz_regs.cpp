#include "ui/pages/tab_nozz_regs.h"

#include "data/channel_io.h"
#include "data/field_bindings.h"
#include "data/field_entry.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "ui/fields/field_binder.h"
#include "ui/session.h"
#include "ui_tab_nozz_regs.h"

#include <QListWidget>
#include <QSignalBlocker>
#include <algorithm>

namespace velmar::ui {

namespace {

constexpr const char* kReadFailed = "Ошибка чтения состояния канала";
constexpr const char* kRead = "Состояние канала считано";
constexpr const char* kWritten = "Состояние канала записано";

constexpr int kWriteAttempts = 3;

} // namespace

TabNozzRegs::TabNozzRegs(Session& session, QWidget* parent)
    : ChannelPage(session, parent), ui(std::make_unique<Ui::TabNozzRegs>()),
      binder_(new FieldBinder(session.FieldEntry(), this)) {
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

    const auto shown = [this]() -> ChannelRegs& { return Regs(); };
    binder_->Bind(ui->eSetVol, bind::eSetVol, shown);
    binder_->Bind(ui->eSetSum, bind::eSetSum, shown);
    binder_->Bind(ui->eLoadVol, bind::eLoadVol, shown);
    binder_->Bind(ui->eLoadVolLo, bind::eLoadVolLo, shown);
    binder_->Bind(ui->eKVol, bind::eKVol, shown);
    binder_->Bind(ui->eKVolLo, bind::eKVolLo, shown);
    binder_->Bind(ui->eLastVol, bind::eLastVol, shown);
    binder_->Bind(ui->ePrice, bind::ePrice, shown);
    binder_->Bind(ui->eVolStart, bind::eVolStart, shown);
    binder_->Bind(ui->eVolEnd, bind::eVolEnd, shown);
    binder_->Bind(ui->eDCount, bind::eDCount, shown);
    binder_->Bind(ui->eFCount, bind::eFCount, shown);
    binder_->Bind(ui->eFCMil, bind::eFCMil, shown);
    binder_->Bind(ui->eLCount, bind::eLCount, shown);
    binder_->Bind(ui->eSCount, bind::eSCount, shown);
    binder_->Bind(ui->eBCount, bind::eBCount, shown);
    binder_->Bind(ui->eMCount, bind::eMCount, shown);
    binder_->Bind(ui->eBitStatHex, bind::eBitStatHex, shown, [this] { ShowBitStat(); });

    connect(ui->cbState, &QComboBox::activated, this, &TabNozzRegs::cbStateChange);
    connect(ui->checkBitStat, &QListWidget::itemChanged, this,
            &TabNozzRegs::checkBitStatClickCheck);
    Wire(ui->cbNumCnl, ui->bCallNozRegs, ui->bSaveNozRegs);
}

TabNozzRegs::~TabNozzRegs() = default;

ChannelResult TabNozzRegs::ReadChannel(int n) {
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    if (!ReadRecord(
            n, [&] { return ReadModelChannelRegs(model, store, n); }, kReadFailed))
        return ChannelResult::Failed;
    SetChannelShown(n);
    const std::vector<Repair> repairs = CheckRegsOnRead(Regs());

    binder_->ShowAll();
    {
        const QSignalBlocker block(ui->cbState);
        ui->cbState->setCurrentIndex(regs::StateItem(Regs().State()));
    }
    // A status read as 0xFFFF is shown as read but leaves the list as it was and 0 in the
    // working copy.
    ui->eBitStatHex->setText(QString::fromStdString(Hex4(session_.Model().Regs(n).read.BitStat())));
    for (const Repair& repair : repairs) ShowMessage(repair.message.c_str());
    if (repairs.empty()) ShowBitStat();

    session_.FieldEntry().invalidFieldCount = 0;
    SetStatusText(kRead);
    return ChannelResult::Done;
}

ChannelResult TabNozzRegs::SaveChannel(int n) {
    if (!CheckChannelNumber(n)) return ChannelResult::Failed;
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    // A controller gets up to three attempts.
    return WriteRecord(
        kWriteAttempts, [&] { return WriteModelChannelRegs(model, store, n); }, kWritten);
}

bool TabNozzRegs::Unsaved() const {
    return ChannelShown() >= 0 && session_.Model().Regs(ChannelShown()).Unsaved();
}

ChannelRegs& TabNozzRegs::Regs() {
    return session_.Model().Regs(std::max(ChannelShown(), 0)).working;
}

void TabNozzRegs::cbStateChange(int item) {
    if (item >= 0) Regs().SetState(static_cast<uint8_t>(regs::StateCode(item)));
}

void TabNozzRegs::checkBitStatClickCheck() {
    // Items in order 0..9: items 6 and 7 share bit 2, so item 7's check decides it.
    uint16_t bits = Regs().BitStat();
    for (int i = 0; i < ui->checkBitStat->count(); ++i) {
        const auto bit =
            static_cast<uint16_t>(1u << regs::kBitStatItemBits[static_cast<size_t>(i)]);
        if (ui->checkBitStat->item(i)->checkState() == Qt::Checked) {
            bits |= bit;
        } else {
            bits &= static_cast<uint16_t>(~bit);
        }
    }
    Regs().SetBitStat(bits);
    binder_->Show(ui->eBitStatHex);
}

void TabNozzRegs::ShowBitStat() {
    const QSignalBlocker block(ui->checkBitStat);
    const uint16_t bits = Regs().BitStat();
    for (int i = 0; i < ui->checkBitStat->count(); ++i) {
        const bool on = (bits >> regs::kBitStatItemBits[static_cast<size_t>(i)]) & 1u;
        ui->checkBitStat->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace velmar::ui
