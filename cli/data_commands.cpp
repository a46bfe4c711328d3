// Device images on the command line: saving a controller's image to a file, writing a saved
// image into a controller, and making a demo image from the records in use.
#include "cli/backup_manifest.h"
#include "cli/cli_command.h"
#include "cli/terminal_progress.h"
#include "data/demo_image.h"
#include "data/device_image.h"
#include "data/image_write_report.h"

#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

constexpr const char* kImageUsage =
    "image save|load ФАЙЛ  сохранить образ контроллера в файл / записать образ в контроллер";
constexpr const char* kMakeDemoUsage =
    "make-demo ФАЙЛ        демонстрационный образ из записей контроллера (или образа)";

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

int ImageSave(Context& ctx, const std::string& path) {
    std::string error;
    ImageSaveResult r{};
    {
        TerminalProgress bar("Сохранение образа");
        r = SaveDeviceImage(*ctx.store, path, bar.Callback(), &error);
    }
    if (r == ImageSaveResult::FileFailed) return Fail(kExitFile, error);
    if (r != ImageSaveResult::Saved) return Fail(kExitNoAnswer, error);
    std::cout << ImageSaveErrorText(ImageSaveResult::Saved) << '\n';
    return kExitOk;
}

int ImageLoad(Context& ctx, const std::string& path) {
    std::vector<uint8_t> image;
    // An image from a station backup goes back only into a controller of the line it came from.
    if (const std::string refusal = ImageLineRefusal(path, ctx.portName); !refusal.empty())
        return Fail(kExitUsage, refusal);
    std::string error;
    if (LoadImageFile(path, image, &error) != ImageLoadResult::Loaded)
        return Fail(kExitFile, error);
    ImageWriteResult written{};
    ImageWriteReport report;
    // No write goes unrecorded: a journal that cannot take entries stops the load here, and
    // each record is entered (its old values unknown: none was read) before it is sent.
    if (const int code = CheckJournal(ctx); code != kExitOk) return code;
    {
        TerminalProgress bar("Запись образа");
        written = WriteImageToController(ctx.slot, ctx.ctrl, image, bar.Callback(),
                                         &ctx.store->Sizes(), &report, ctx.journal);
    }
    if (ctx.journal != nullptr && !ctx.journal->LastError().empty())
        return Fail(kExitFile, (report.anythingSent ? ImageWriteFailureText(report) + "\n"
                                                    : std::string("Контроллер не изменен.\n")) +
                                   "Загрузка остановлена, " + kJournalRefusal +
                                   ctx.journal->LastError());
    if (written == ImageWriteResult::WrittenNoRestart)
        return Fail(kExitNoAnswer, "Образ записан, но контроллер не подтвердил перезапуск");
    if (written != ImageWriteResult::Written)
        return Fail(kExitNoAnswer, ImageWriteFailureText(report));
    std::cout << "Образ успешно записан в контроллер\n";
    return kExitOk;
}

int Image(Context& ctx, const std::vector<std::string>& args) {
    if (args.size() != 2 || args[1].empty() || (args[0] != "save" && args[0] != "load"))
        return Usage(kImageUsage);
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "В демонстрационном режиме образ контроллера недоступен");
    const int code = args[0] == "save" ? ImageSave(ctx, args[1]) : ImageLoad(ctx, args[1]);
    PrintRetriedRequests(ctx);
    return code;
}

int MakeDemo(Context& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty()) return Usage(kMakeDemoUsage);
    std::string error;
    const DemoBuildResult r = SaveDemoImage(*ctx.store, args[0], &error);
    if (r == DemoBuildResult::FileFailed) return Fail(kExitFile, error);
    if (r != DemoBuildResult::Built) return Fail(kExitNoAnswer, error);
    std::cout << "Демонстрационный образ записан: " << args[0] << '\n';
    return kExitOk;
}

[[maybe_unused]] const bool kRegistered = RegisterCommand({"image", kImageUsage, Image}) &&
                                          RegisterCommand({"make-demo", kMakeDemoUsage, MakeDemo});

} // namespace
} // namespace velmar::cli
