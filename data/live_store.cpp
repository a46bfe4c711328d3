#include "data/live_store.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/ctrlr_ready.h"

namespace velmar {

StoreResult LiveRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    return StoreResult::FromRead(ReadCtrlrMem(slot_, ctrl_, address, length, dst, space));
}

StoreResult LiveRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    return StoreResult::FromWrite(WriteCtrlrMem(slot_, ctrl_, address, length, data, space));
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
