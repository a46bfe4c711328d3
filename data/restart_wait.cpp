#include "data/restart_wait.h"

namespace velmar {

RestartResult RestartConfirmed(RecordStore& store) {
    if (store.Restart().Ok()) return RestartResult::Ready;
    if (store.IsDemo() || !store.AwaitAnswer().Ok()) return RestartResult::Failed;
    return store.Restart().Ok() ? RestartResult::Ready : RestartResult::Failed;
}

RestartResult RestartAndAwait(RecordStore& store) {
    if (RestartConfirmed(store) != RestartResult::Ready) return RestartResult::Failed;
    return store.AwaitAnswer().Ok() ? RestartResult::Ready : RestartResult::NoAnswer;
}

} // namespace velmar
