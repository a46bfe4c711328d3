#include "data/live_store.h"

#include "protocol/ctrlr_protocol.h"

namespace velmar {

int LiveRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    return ReadCtrlrMem(slot_, ctrl_, address, length, dst, space);
}

int LiveRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    return WriteCtrlrMem(slot_, ctrl_, address, length, data, space);
}

int LiveRecordStore::Restart() {
    return RestartCtrlr(slot_, ctrl_);
}

int LiveRecordStore::ReadSizes() {
    uint8_t bytes[service::kSizesLength];
    return TakeSizes(ReadStructSizes(slot_, ctrl_, bytes), bytes);
}

} // namespace velmar
