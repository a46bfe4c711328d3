#include "data/restart_wait.h"

namespace velmar {

int RestartConfirmed(RecordStore& store) {
    if (store.Restart().Ok()) return 1;
    if (store.IsDemo() || !store.AwaitAnswer().Ok()) return -1;
    return store.Restart().Ok() ? 1 : -1;
}

int RestartAndAwait(RecordStore& store) {
    if (RestartConfirmed(store) != 1) return kRestartFailed;
    return store.AwaitAnswer().Ok() ? kRestartReady : kRestartNoAnswer;
}

} // namespace velmar
