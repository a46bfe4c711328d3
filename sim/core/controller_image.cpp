// Saved device images: a controller built from one, and the image of a controller.
//
// Layout: the 7-byte sizes record S0..S6, then the parameter block (S0), 16 channel settings
// (S3 each), the two optional blocks (S4 each), the two side states (S6 each), 16 channel
// registers (S5 each), 256 bytes from 0x5100 and 57 bytes from 0x3000.
#include "base/atomic_file.h"
#include "sim/core/bus_simulator.h"
#include "sim/core/controller_layout.h"
#include "sim/core/default_memory.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace velmar::sim {

namespace L = layout;

namespace {

constexpr size_t kMaxImageSize = 18432; // the tool's image buffer

struct Record {
    uint32_t address;
    int length;
};

// The records of an image in file order, with the lengths its header gives.
std::vector<Record> ImageRecords(const uint8_t* h) {
    std::vector<Record> r;
    r.push_back({L::kParams, h[0]});
    for (uint32_t n = 0; n < L::kChannels; ++n)
        r.push_back({L::kChannelSettsBase + n * L::kChannelStride, h[3]});
    r.push_back({L::kOptionalBlockA, h[4]});
    r.push_back({L::kOptionalBlockB, h[4]});
    r.push_back({L::kSideStateA, h[6]});
    r.push_back({L::kSideStateB, h[6]});
    for (uint32_t n = 0; n < L::kChannels; ++n)
        r.push_back({L::kChannelRegsBase + n * L::kChannelStride, h[5]});
    r.push_back({L::kMakeBlock, L::kMakeRegionSize});
    r.push_back({L::kBlock3000, L::kBlock3000Size});
    return r;
}

size_t ImageSize(const uint8_t* h) {
    size_t total = L::kSizesRecordSize;
    for (const auto& rec : ImageRecords(h)) total += static_cast<size_t>(rec.length);
    return total;
}

} // namespace

std::unique_ptr<Controller> Controller::FromImage(const std::vector<uint8_t>& image,
                                                  std::string& error) {
    if (image.size() < L::kSizesRecordSize) {
        error = "device image too short: " + std::to_string(image.size()) +
                " bytes, its sizes header alone is 7";
        return nullptr;
    }
    const uint8_t* h = image.data();
    for (int i = 0; i < L::kSizesRecordSize; ++i) {
        if (i != 4 && h[i] == 0) {
            error = "device image header byte " + std::to_string(i) + " is 0";
            return nullptr;
        }
    }
    const size_t expected = ImageSize(h);
    if (expected > kMaxImageSize) {
        error = "device image header announces " + std::to_string(expected) +
                " bytes, more than an image can hold (" + std::to_string(kMaxImageSize) + ")";
        return nullptr;
    }
    if (image.size() != expected) {
        error = "device image is " + std::to_string(image.size()) + " bytes, its header says " +
                std::to_string(expected);
        return nullptr;
    }
    if (h[0] < L::kCountSideTrk + 1) {
        error = "device image parameter block of " + std::to_string(h[0]) +
                " bytes is too short to hold the addresses";
        return nullptr;
    }

    const uint8_t* params = h + L::kSizesRecordSize;
    const int sideA = params[L::kAdrTrk1];
    const int sides = params[L::kCountSideTrk] >= 2 ? 2 : 1;
    const int hoses =
        params[L::kCountNozTrk] >= 1 && params[L::kCountNozTrk] <= 8 ? params[L::kCountNozTrk] : 1;
    auto c = MakeDefault(sideA, sides, hoses);

    // Records the image holds replace the defaults completely, including bytes past a record
    // shorter than the usual one; the temperature table and the live registers stay default.
    auto& er = c->Space(0);
    const uint8_t* src = h + L::kSizesRecordSize;
    for (const auto& rec : ImageRecords(h)) {
        std::fill_n(er.begin() + rec.address, L::kChannelStride, 0);
        std::copy_n(src, rec.length, er.begin() + rec.address);
        src += rec.length;
    }
    std::copy_n(h, L::kSizesRecordSize, er.begin() + L::kSizesRecord);
    er[L::kParamsLength] = h[0];
    c->identText = DefaultIdentText(120 + sideA);
    c->ApplyParams();
    return c;
}

std::unique_ptr<Controller> Controller::FromImageFile(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(path, bytes, kMaxImageSize)) {
    case FileReadResult::Read:
        break;
    case FileReadResult::CannotOpen:
        error = "cannot open device image " + path;
        return nullptr;
    case FileReadResult::TooLong:
        error =
            "device image " + path + " is longer than " + std::to_string(kMaxImageSize) + " bytes";
        return nullptr;
    default:
        error = "cannot read device image " + path;
        return nullptr;
    }
    auto c = FromImage(bytes, error);
    if (!c) error = path + ": " + error;
    return c;
}

std::vector<uint8_t> Controller::ImageBytes() const {
    const auto& er = Space(0);
    const uint8_t* h = &er[L::kSizesRecord];
    std::vector<uint8_t> image(h, h + L::kSizesRecordSize);
    for (const auto& rec : ImageRecords(h))
        image.insert(image.end(), er.begin() + rec.address, er.begin() + rec.address + rec.length);
    return image;
}

int Controller::SaveImageFile(const std::string& path) const {
    const auto image = ImageBytes();
    return WriteFileAtomically(path, image.data(), image.size());
}

} // namespace velmar::sim
