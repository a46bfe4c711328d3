// The demo image as the command line's record store.
#include "cli/cli_command.h"
#include "data/demo_store.h"

namespace velmar::cli {

std::unique_ptr<RecordStore> OpenDemoStore(Context& ctx, int& exitCode) {
    DemoLoadResult result{};
    auto store = MakeDemoRecordStore(ctx.demoFile, result);
    if (result != DemoLoadResult::Loaded) {
        exitCode = Fail(kExitFile, store->LastError());
        return nullptr;
    }
    exitCode = kExitOk;
    return store;
}

} // namespace velmar::cli
