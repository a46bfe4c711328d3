// Writing a whole saved device image into a controller, record by record in the image's order.
#include "data/counting_records.h"
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/write_recorder.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar {

namespace {

// The length the controller expects for a record of the image, and whether the record gets a
// checksum computed for that length. -1: the record is skipped.
struct Target {
    int length;
    bool freshChecksum = false;
};

Target TargetOf(const ImageRecord& rec, const uint8_t* stored, const SizesRecord& sizes) {
    switch (rec.kind) {
    case RecordKind::Params:
        return {sizes.paramsLength, true};
    case RecordKind::OptionalBlock:
        // Absent from both the image and the controller: nothing to write.
        if (stored[4] == 0 && sizes.optionalLength == 0) return {-1};
        return {sizes.optionalLength};
    case RecordKind::SideState:
        return {sizes.sideStateLength};
    case RecordKind::ChannelRegs:
        return {sizes.regsLength};
    default:
        // Channel settings go with the image's own length; the fixed regions as they are.
        return {rec.length};
    }
}

} // namespace

int WriteDeviceImage(PortSlot slot, int ctrl, const uint8_t* image, size_t imageLength,
                     const ImageProgress& progress, SizesRecord* controllerSizes,
                     ImageWriteReport* report, WriteRecorder* recorder) {
    ImageWriteReport unused;
    ImageWriteReport& done = report != nullptr ? *report : unused;
    done = {};
    // Refuse an image that does not hold everything its header announces before anything is
    // sent, so a truncated file never leaves a half-written controller. A zero length in the
    // header (other than the optional blocks') would send zeros over the controller's records,
    // fiscal totalisers included: such an image is no image of a controller.
    if (image == nullptr || CheckImageHeader(image, imageLength) != ImageLoadResult::Loaded)
        return -1;
    const uint8_t* stored = image; // the sizes the image was saved with
    if (imageLength < static_cast<size_t>(ImageLength(stored))) return -1;

    uint8_t now[len::kSizes];
    if (!Succeeded(ReadStructSizes(slot, ctrl, now))) return -1;
    SizesRecord sizes;
    sizes.SetFromBytes(now);
    // A controller reporting no parameter block leaves no room for its checksum either.
    if (sizes.paramsLength == 0) return -1;
    sizes.settsLength = stored[3];
    if (controllerSizes != nullptr) *controllerSizes = sizes;

    // Every record with its target length; the report lists only those to be written.
    std::vector<std::pair<ImageRecord, Target>> records;
    for (const ImageRecord& rec : ImageRecords(stored)) {
        const Target target = TargetOf(rec, stored, sizes);
        records.emplace_back(rec, target);
        if (target.length >= 0) done.notWritten.push_back(rec);
    }

    size_t pos = len::kSizes;
    for (const auto& [rec, target] : records) {
        if (target.length < 0) {
            pos += static_cast<size_t>(rec.length);
            continue;
        }
        // The stored bytes brought to the target length, in a copy: the image stays as it is.
        std::vector<uint8_t> block(static_cast<size_t>(target.length), 0);
        const int take = std::min(rec.length, target.length);
        if (take > 0) std::memcpy(block.data(), image + pos, static_cast<size_t>(take));
        if (target.freshChecksum && target.length > 0)
            block.back() = ChecksumRot8(block.data(), block.size() - 1);
        // Entered in the journal before it goes on the line, so a crash at any moment leaves
        // every record the controller may have taken entered, as unknown at worst.
        if (recorder != nullptr &&
            !recorder->BeforeWrite(rec.address, target.length, block.data(), 0))
            return -1;
        done.anythingSent = true;
        // What the controller counts in was not read before the load: a chunk of it whose
        // status did not come clear is never sent again unless it is found written.
        const WriteGuard guard{CountsByItself(rec.address, target.length, kSpaceER), nullptr};
        const bool written =
            Succeeded(BlockWriteAcked(slot, ctrl, rec.address, target.length, block.data(), guard));
        if (recorder != nullptr)
            recorder->AfterWrite(written ? StoreResult::Done()
                                         : StoreResult::Failed(StoreCode::NoAnswer));
        if (!written) return -1;
        done.written.push_back(rec);
        done.notWritten.erase(done.notWritten.begin());
        pos += static_cast<size_t>(rec.length);
        if (progress) progress(static_cast<int>(pos) - len::kSizes);
    }
    return 1;
}

} // namespace velmar
