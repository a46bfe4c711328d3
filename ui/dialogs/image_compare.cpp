#include "ui/dialogs/image_compare.h"

#include "data/image_file.h"
#include "data/make_block.h"
#include "data/model_writes.h"
#include "data/records.h"
#include "data/restart_wait.h"
#include "ui/fields/warning_texts.h"
#include "ui/session.h"
#include "ui_image_compare.h"

#include <QHeaderView>
#include <QTableWidgetItem>
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

namespace velmar::ui {

namespace {

// The record's bytes in `image`, or none when the image holds no such record.
std::optional<std::span<const uint8_t>> RecordIn(const std::vector<uint8_t>& image,
                                                 const ImageDifference& d) {
    const auto span = FindImageSpan(image.data(), d.kind, d.index);
    if (!span || static_cast<size_t>(span->offset + span->length) > image.size()) return {};
    return std::span<const uint8_t>(image.data() + span->offset, static_cast<size_t>(span->length));
}

// The model holds the controller's version as read and the file's as the working copy: the
// tab's write sequence then sends exactly what a tab would have sent after that edit.
template <class R>
void Stage(HeldRecord<R>& held, std::span<const uint8_t> controller,
           std::span<const uint8_t> file) {
    const auto assign = [](R& r, std::span<const uint8_t> bytes) {
        if constexpr (std::is_same_v<R, CtrlrParams>)
            r.Assign(bytes.data(), static_cast<int>(bytes.size())); // keeps the block's length
        else
            r.Assign(bytes);
    };
    R read;
    assign(read, controller);
    held.Take(read);
    assign(held.working, file);
}

QString WriteResultText(WriteResult r) {
    switch (r) {
    case WriteResult::Written:
        return {};
    case WriteResult::NoChanges:
        return QStringLiteral("Запись в контроллере уже совпадает с файлом");
    case WriteResult::SizesFailed:
        return QStringLiteral("Ошибка чтения размеров структур");
    case WriteResult::RestartFailed:
        return QStringLiteral("Записано, но контроллер не перезапустился");
    case WriteResult::PortFailed:
        return QStringLiteral("Записано, но порт не переключен на новую скорость контроллера");
    case WriteResult::ChannelsFailed:
        return QStringLiteral("Записано, но настройки каналов не приведены к новому типу датчика: "
                              "ошибка записи параметров канала");
    default:
        return QStringLiteral("Ошибка записи в контроллер");
    }
}

const QString kBeyondMakeBlock =
    QStringLiteral("Эти байты лежат за блоком настроек марки ТРК (его 128 байт): в контроллер "
                   "они переносятся только образом целиком (\"Загрузить образ в контроллер\")");

} // namespace

TImageCompare::TImageCompare(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), ui_(std::make_unique<Ui::TImageCompare>()) {
    ui_->setupUi(this);
    setModal(true);
    // The two values side by side at their own widths; the caption takes the room left.
    ui_->tDiffs->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ui_->tDiffs->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    ui_->tDiffs->verticalHeader()->hide();
    connect(ui_->bFileToCtrlr, &QPushButton::clicked, this, &TImageCompare::bFileToCtrlrClick);
    connect(ui_->bCtrlrToFile, &QPushButton::clicked, this, &TImageCompare::bCtrlrToFileClick);
    connect(ui_->bClose, &QPushButton::clicked, this, &QDialog::accept);
}

TImageCompare::~TImageCompare() = default;

void TImageCompare::Compare(const QString& path, std::vector<uint8_t> file,
                            std::vector<uint8_t> controller) {
    path_ = path;
    file_ = std::move(file);
    controller_ = std::move(controller);
    ui_->lFiles->setText(QStringLiteral("Файл: ") + path_ + QStringLiteral("\nКонтроллер: ") +
                         QString::fromStdString(session_.Model().Identity().identText)
                             .section(QLatin1Char('\n'), 0, 0));
    Refill();
}

void TImageCompare::Refill() {
    diffs_ = DiffImages(file_, controller_);
    ui_->tDiffs->setRowCount(static_cast<int>(diffs_.size()));
    int row = 0;
    for (const ImageDifference& d : diffs_) {
        const std::string cells[4] = {d.record, d.caption, d.inA ? d.a : "нет",
                                      d.inB ? d.b : "нет"};
        for (int col = 0; col < 4; ++col)
            ui_->tDiffs->setItem(row, col,
                                 new QTableWidgetItem(QString::fromStdString(cells[col])));
        ++row;
    }
    // The record and the two values fit their texts; the caption keeps the width left, also
    // after rows went (resizing it to its texts would leave a gap at the right).
    for (const int col : {0, 2, 3}) ui_->tDiffs->resizeColumnToContents(col);
    ui_->tDiffs->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    if (!diffs_.empty()) ui_->tDiffs->selectRow(0);
    ui_->lState->setText(diffs_.empty()
                             ? QStringLiteral("Контроллер и файл совпадают")
                             : QStringLiteral("Различий: ") + QString::number(diffs_.size()));
    ui_->bFileToCtrlr->setEnabled(!diffs_.empty());
    ui_->bCtrlrToFile->setEnabled(!diffs_.empty());
}

const ImageDifference* TImageCompare::Chosen() const {
    const int row = ui_->tDiffs->currentRow();
    if (row < 0 || row >= static_cast<int>(diffs_.size())) return nullptr;
    return &diffs_[static_cast<size_t>(row)];
}

void TImageCompare::bCtrlrToFileClick() {
    const ImageDifference* d = Chosen();
    if (d == nullptr) return;
    const auto from = RecordIn(controller_, *d);
    const auto into = FindImageSpan(file_.data(), d->kind, d->index);
    if (d->kind == RecordKind::Sizes || !from || !into ||
        static_cast<size_t>(into->length) != from->size()) {
        session_.Ask().Message(this, QStringLiteral("Запись \"") +
                                         QString::fromStdString(d->record) +
                                         QStringLiteral("\" в файле и в контроллере разной длины:"
                                                        " сохраните образ контроллера целиком"));
        return;
    }
    std::vector<uint8_t> next = file_;
    std::copy(from->begin(), from->end(), next.begin() + into->offset);
    std::string error;
    if (!WriteImageFile(path_.toStdString(), next, &error)) {
        session_.Ask().Message(this, QString::fromStdString(error));
        return;
    }
    file_ = std::move(next);
    Refill();
}

void TImageCompare::bFileToCtrlrClick() {
    const ImageDifference* d = Chosen();
    if (d == nullptr) return;
    const auto file = RecordIn(file_, *d);
    const auto controller = RecordIn(controller_, *d);
    if (!file || !controller) return;
    ControllerModel& model = session_.Model();
    RecordStore& store = session_.Store();
    std::optional<WriteResult> result;
    switch (d->kind) {
    case RecordKind::ChannelSetts:
        Stage(model.Setts(d->index), *controller, *file);
        result =
            session_.ExchangeFor([&] { return WriteModelChannelSetts(model, store, d->index); });
        break;
    case RecordKind::ChannelRegs:
        Stage(model.Regs(d->index), *controller, *file);
        result =
            session_.ExchangeFor([&] { return WriteModelChannelRegs(model, store, d->index); });
        break;
    case RecordKind::SideState:
        Stage(model.Side(d->index), *controller, *file);
        result = session_.ExchangeFor(
            [&] { return WriteModelSide(model, store, d->index, d->address); });
        break;
    case RecordKind::MakeBlock:
        // The file holds the 256 bytes read at the block's address; the block is the first
        // 128. What lies beyond it goes into the controller only with the whole image.
        if (d->offset >= make::kLength) {
            session_.Ask().Message(this, kBeyondMakeBlock);
            return;
        }
        Stage(model.Make(), *controller, *file);
        result = session_.ExchangeFor([&] {
            const WriteResult r = WriteModelMake(model, store);
            return r == WriteResult::Written && RestartAndAwait(store) != RestartResult::Ready
                       ? WriteResult::RestartFailed
                       : r;
        });
        break;
    case RecordKind::Params:
        Stage(model.Params(), *controller, *file);
        result = WriteParams();
        if (!result) return; // the engineer kept the number in use
        break;
    default:
        session_.Ask().Message(this, QStringLiteral("Эта запись переносится только образом "
                                                    "целиком (\"Загрузить образ в контроллер\")"));
        return;
    }
    if (const QString text = WriteResultText(*result); !text.isEmpty()) {
        session_.Ask().Message(this, text);
        const bool written = *result == WriteResult::RestartFailed ||
                             *result == WriteResult::PortFailed ||
                             *result == WriteResult::ChannelsFailed;
        if (!written) return;
    }
    // The controller now holds the file's version of what was written, and only of that: of
    // the make region, the block's first 128 bytes.
    const auto span = FindImageSpan(controller_.data(), d->kind, d->index);
    if (span && static_cast<size_t>(span->length) == file->size()) {
        const size_t written =
            d->kind == RecordKind::MakeBlock ? static_cast<size_t>(make::kLength) : file->size();
        std::copy_n(file->begin(), written, controller_.begin() + span->offset);
    }
    Refill();
}

// The file's parameter block goes as "Сохранить настройки" sends it: a new side-A number of a
// one-side block is probed first and the engineer asked when it is taken; after the restart the
// port follows a new speed, the session a new number, and the channels' meter settings are
// brought in line. Whatever moved, the window identifies the controller again. None: the
// engineer declined the number in use, nothing was written.
std::optional<WriteResult> TImageCompare::WriteParams() {
    ControllerModel& model = session_.Model();
    model.Params().working.UpdateKsm(); // as the tab sends it: the checksum of what goes
    const CtrlrParams& work = model.Params().working;
    const CtrlrParams& read = model.Params().read;
    const int addressBefore = session_.Address();
    int newAddress = addressBefore;
    const bool newSpeed = work.SpeedTrk() != read.SpeedTrk();
    const bool newNumber = !session_.Store().IsDemo() && work.AdrTrk_1() != read.AdrTrk_1();
    if (newNumber) {
        newAddress = work.AdrTrk_1();
        const PortSlot slot = session_.Slot();
        const CtrlrParams block = work;
        const bool inUse = block.CountSideTrk() == 1 && session_.Exchange([slot, &block] {
            return SideAddressInUse(slot, block);
        }) != 0;
        if (inUse && !session_.Ask().Warn(this, QString::fromUtf8(kAddressInUse))) {
            session_.RequestReident(Reident::SideAddress);
            return std::nullopt;
        }
    }
    const ParamsWriteOutcome out = session_.WriteParamsAndFollow(newAddress, newSpeed);
    const bool failed = out.result != WriteResult::Written && out.result != WriteResult::NoChanges;
    if (newSpeed || failed) session_.RequestReident(Reident::WriteFailedOrSpeed);
    if (newNumber) session_.RequestReident(Reident::SideAddress);
    return out.result;
}

} // namespace velmar::ui
