// Writing a whole saved device image into a controller with acknowledged block writes.
#include "data/device_image.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar {

int BlockWriteAcked(PortSlot slot, int ctrl, int address, int length, const uint8_t* data) {
    if (slot > kMaxTransactionSlot) return -3;
    for (int done = 0; done < length;) {
        const int chunk = std::min(length - done, kMaxChunk);
        SendCtrlrCmd(slot, ctrl, 0x40);
        detail::SleepMs(kBlockCmdPauseMs);
        const auto lineAddress = static_cast<uint32_t>(address + done) & 0xFFFFFFu;
        if (SendWriteFrames(slot, lineAddress, static_cast<unsigned>(chunk), data + done) != 1)
            return -1;
        if (detail::AwaitAtLeast(slot, 1, Timeouts().blockAckMs) < 1) return -1;
        uint8_t status = 0;
        if (ReadPort(slot, &status, 1) != 1 || status != 0) return -1;
        // Only the first byte counts; the rest of the status block is dropped.
        uint8_t rest[256];
        const int more = PortAvailable(slot);
        if (more > 0) ReadPort(slot, rest, more);
        done += chunk;
    }
    return 1;
}

namespace {

class ImageWriter {
  public:
    ImageWriter(PortSlot slot, int ctrl, const uint8_t* image, const ImageProgress& progress)
        : slot_(slot), ctrl_(ctrl), image_(image), progress_(progress) {}

    // Sends `stored` image bytes from the current position brought to `target` bytes: cut when
    // longer, followed by zeros when shorter (in a copy; the image stays as it is).
    int Send(int address, int stored, int target, bool freshChecksum = false) {
        std::vector<uint8_t> block(static_cast<size_t>(target), 0);
        const int take = std::min(stored, target);
        if (take > 0) std::memcpy(block.data(), image_ + pos_, static_cast<size_t>(take));
        if (freshChecksum && target > 0)
            block.back() = ChecksumRot8(block.data(), block.size() - 1);
        if (BlockWriteAcked(slot_, ctrl_, address, target, block.data()) != 1) return -1;
        pos_ += static_cast<size_t>(stored);
        if (progress_) progress_(static_cast<int>(pos_) - len::kSizes);
        return 1;
    }

  private:
    PortSlot slot_;
    int ctrl_;
    const uint8_t* image_;
    const ImageProgress& progress_;
    size_t pos_ = len::kSizes;
};

} // namespace

int WriteDeviceImage(PortSlot slot, int ctrl, const uint8_t* image, size_t imageLength,
                     const ImageProgress& progress) {
    // Refuse an image that does not hold everything its header announces before anything is
    // sent, so a truncated file never leaves a half-written controller.
    // A zero length in the header (other than the optional blocks') would send zeros over the
    // controller's records, fiscal totalisers included: such an image is no image of a
    // controller.
    if (image == nullptr || CheckImageHeader(image, imageLength) != kImageLoaded) return -1;
    const uint8_t* stored = image; // the sizes the image was saved with
    if (imageLength < static_cast<size_t>(ImageLength(stored))) return -1;

    if (ReadStructSizes(slot, ctrl) != 1) return -1;
    SizesRecord& sizes = CtrlrSizes();
    ImageWriter writer(slot, ctrl, image, progress);

    // Parameter block, with a checksum computed for the length the controller expects.
    // (A controller reporting no parameter block leaves no room for the checksum either.)
    if (sizes.paramsLength == 0) return -1;
    if (writer.Send(addr::kParams, stored[0], sizes.paramsLength, true) != 1) return -1;

    // Channel settings go with the image's own length, which becomes the session's.
    if (stored[3] == 0 && sizes.settsLength == 0) return -1;
    sizes.settsLength = stored[3];
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (writer.Send(ChannelAddress(addr::kChannelSettsBase, ch), stored[3], stored[3]) != 1)
            return -1;
    }

    if (stored[4] != 0 || sizes.optionalLength != 0) {
        if (writer.Send(addr::kOptionalA, stored[4], sizes.optionalLength) != 1) return -1;
        if (writer.Send(addr::kOptionalB, stored[4], sizes.optionalLength) != 1) return -1;
    }

    if (stored[6] == 0 && sizes.sideStateLength == 0) return -1;
    if (writer.Send(addr::kSideStateA, stored[6], sizes.sideStateLength) != 1) return -1;
    if (writer.Send(addr::kSideStateB, stored[6], sizes.sideStateLength) != 1) return -1;

    if (stored[5] == 0 && sizes.regsLength == 0) return -1;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (writer.Send(ChannelAddress(addr::kChannelRegsBase, ch), stored[5], sizes.regsLength) !=
            1)
            return -1;
    }

    if (writer.Send(addr::kMakeBlock, len::kMakeBlockImage, len::kMakeBlockImage) != 1) return -1;
    if (writer.Send(addr::kBlock3000, len::kBlock3000, len::kBlock3000) != 1) return -1;
    return 1;
}

} // namespace velmar
