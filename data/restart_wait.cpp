#include "data/restart_wait.h"

namespace velmar {

int RestartConfirmed(RecordStore& store) {
    if (store.Restart() == 1) return 1;
    if (store.IsDemo() || store.AwaitAnswer() != 1) return -1;
    return store.Restart() == 1 ? 1 : -1;
}

int RestartAndAwait(RecordStore& store) {
    if (RestartConfirmed(store) != 1) return kRestartFailed;
    return store.AwaitAnswer() == 1 ? kRestartReady : kRestartNoAnswer;
}

} // namespace velmar
