#include "ui/dialogs/image_compare.h"

#include "data/image_file.h"
#include "data/model_writes.h"
#include "data/records.h"
#include "data/restart_wait.h"
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
    default:
        return QStringLiteral("Ошибка записи в контроллер");
    }
}

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
    ui_->tDiffs->resizeColumnsToContents();
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
        Stage(model.Make(), *controller, *file);
        result = session_.ExchangeFor([&] {
            const WriteResult r = WriteModelMake(model, store);
            return r == WriteResult::Written && RestartAndAwait(store) != 1
                       ? WriteResult::RestartFailed
                       : r;
        });
        break;
    case RecordKind::Params:
        Stage(model.Params(), *controller, *file);
        result = session_.ExchangeFor([&] {
            const WriteResult r = WriteModelParamsSized(model, store);
            return r == WriteResult::Written && store.Restart() != 1 ? WriteResult::RestartFailed
                                                                     : r;
        });
        // A new speed or number in the block: the window finds the controller again.
        session_.RequestReident(Reident::WriteFailedOrSpeed);
        break;
    default:
        session_.Ask().Message(this, QStringLiteral("Эта запись переносится только образом "
                                                    "целиком (\"Загрузить образ в контроллер\")"));
        return;
    }
    if (const QString text = WriteResultText(*result); !text.isEmpty()) {
        session_.Ask().Message(this, text);
        if (*result != WriteResult::RestartFailed) return;
    }
    const auto span = FindImageSpan(controller_.data(), d->kind, d->index);
    if (span && static_cast<size_t>(span->length) == file->size())
        std::copy(file->begin(), file->end(), controller_.begin() + span->offset);
    Refill();
}

} // namespace velmar::ui
