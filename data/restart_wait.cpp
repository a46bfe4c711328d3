#include "data/restart_wait.h"

namespace velmar {

int RestartAndAwait(RecordStore& store) {
    if (store.Restart() != 1) return kRestartFailed;
    return store.AwaitAnswer() == 1 ? kRestartReady : kRestartNoAnswer;
}

} // namespace velmar
