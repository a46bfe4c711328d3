// The demo image as the command line's record store.
#include "cli/cli_command.h"
#include "data/demo_store.h"

namespace velmar::cli {

std::unique_ptr<RecordStore> OpenDemoStore(Context& ctx, int& exitCode) {
    int result = 0;
    auto store = MakeDemoRecordStore(ctx.demoFile, result);
    if (result != kDemoLoaded) {
        exitCode = Fail(kExitFile, store->LastError());
        return nullptr;
    }
    exitCode = kExitOk;
    return store;
}

} // namespace velmar::cli
