#include "data/live_store.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/ctrlr_ready.h"

#include <vector>

namespace velmar {

StoreResult LiveRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    const StoreResult rc =
        StoreResult::FromRead(ReadCtrlrMem(slot_, ctrl_, address, length, dst, space));
    if (rc.Ok() && length > 0) counted_.Take(address, rc.Length(), dst, space);
    return rc;
}

StoreResult LiveRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    if (!CountsByItself(address, length, space))
        return StoreResult::FromWrite(WriteCtrlrMem(slot_, ctrl_, address, length, data, space));
    std::vector<uint8_t> before(static_cast<size_t>(length));
    const bool known = counted_.Get(address, length, before.data(), space);
    const WriteGuard guard{true, known ? before.data() : nullptr};
    const StoreResult rc =
        StoreResult::FromWrite(WriteCtrlrMem(slot_, ctrl_, address, length, data, space, guard));
    // A failed write leaves the controller's bytes unknown: the next write there is guarded as
    // one never read.
    if (rc.Ok())
        counted_.Take(address, length, data, space);
    else
        counted_.Forget(address, length, space);
    return rc;
}

StoreResult LiveRecordStore::Restart() {
    switch (SendRestart(slot_, ctrl_)) {
    case RestartStatus::Accepted:
        return StoreResult::Done();
    case RestartStatus::Refused:
        return StoreResult::Failed(StoreCode::Declined);
    case RestartStatus::NotSent:
    case RestartStatus::Lost:
        break;
    }
    // It may have restarted all the same.
    return StoreResult::Failed(StoreCode::NoAnswer);
}

StoreResult LiveRecordStore::AwaitAnswer() {
    return StoreResult::FromWrite(AwaitCtrlrAnswer(slot_, ctrl_));
}

StoreResult LiveRecordStore::ReadSizes() {
    uint8_t bytes[service::kSizesLength];
    return TakeSizes(StoreResult::FromWrite(ReadStructSizes(slot_, ctrl_, bytes)), bytes);
}

} // namespace velmar
