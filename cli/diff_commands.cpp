// Comparing device images field by field: two saved image files, or a controller (read as
// `image save` reads it) against a saved file.
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/terminal_progress.h"
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/image_file.h"

#include <iostream>
#include <string>
#include <vector>

namespace velmar::cli {
namespace {

constexpr const char* kDiffUsage =
    "diff ФАЙЛ [ФАЙЛ_Б]    различия образов по полям: файла и контроллера, или двух файлов";

// Two files need no line.
bool TwoFiles(const std::vector<std::string>& args) {
    return args.size() == 2;
}

Json DifferenceJson(const ImageDifference& d) {
    Json item = {{"record", d.record}, {"address", RecordAddressText(d.address)}};
    if (d.kind == RecordKind::ChannelSetts || d.kind == RecordKind::ChannelRegs)
        item["channel"] = d.index + 1;
    if (d.kind == RecordKind::SideState) item["side"] = d.index == 0 ? "А" : "Б";
    item["offset"] = d.offset;
    item["length"] = d.length;
    if (!d.field.empty()) item["field"] = d.field;
    item["caption"] = d.caption;
    item["a"] = d.inA ? Json(d.a) : Json(nullptr);
    item["b"] = d.inB ? Json(d.b) : Json(nullptr);
    return item;
}

int Diff(Context& ctx, const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2 || args[0].empty() || (TwoFiles(args) && args[1].empty()))
        return Fail(kExitUsage, std::string("Использование: ") + kDiffUsage);
    std::vector<uint8_t> a;
    std::vector<uint8_t> b;
    std::string error;
    if (OpenImageFile(args[0], a, &error) != ImageLoadResult::Loaded) return Fail(kExitFile, error);
    std::string nameB;
    if (TwoFiles(args)) {
        if (OpenImageFile(args[1], b, &error) != ImageLoadResult::Loaded)
            return Fail(kExitFile, error);
        nameB = args[1];
    } else {
        if (ctx.store->IsDemo())
            return Fail(
                kExitUsage,
                "В демонстрационном режиме образ контроллера недоступен: укажите два файла");
        ImageSaveResult r{};
        {
            TerminalProgress bar("Чтение образа");
            r = ReadDeviceImage(*ctx.store, b, bar.Callback(), &error);
        }
        PrintRetriedRequests(ctx);
        if (r != ImageSaveResult::Saved) return Fail(kExitNoAnswer, error);
        nameB = "Трк №" + std::to_string(ctx.ctrl);
    }

    const auto differences = DiffImages(a, b);
    if (ctx.json) {
        Json list = Json::array();
        for (const ImageDifference& d : differences) list.push_back(DifferenceJson(d));
        PrintJson({{"a", args[0]},
                   {"b", nameB},
                   {"equal", differences.empty()},
                   {"differences", std::move(list)}});
    } else if (differences.empty()) {
        std::cout << "Различий нет\n";
    } else {
        for (const ImageDifference& d : differences) std::cout << DifferenceLine(d) << '\n';
    }
    return differences.empty() ? kExitOk : kExitNoAnswer;
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"diff", kDiffUsage, Diff}) && RegisterOffline("diff", TwoFiles);

} // namespace
} // namespace velmar::cli
