// The demo image backend on arbitrary files and arbitrary reads and writes: every copy must
// stay inside the image and the caller's buffer, a write must leave the file equal to the
// image in memory, and a read must never return more than the caller asked for.
//
// Input: 2 bytes file length L (little-endian), L bytes of file, then operations of 5 bytes:
// kind, address (2 bytes), length (signed byte), memory space.
#include "data/demo_store.h"
#include "fuzz_support.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmar;
    if (size < 2) return 0;
    size_t fileLength = data[0] | static_cast<size_t>(data[1]) << 8;
    data += 2;
    size -= 2;
    // Short inputs still reach the full layout: the file is padded with a pattern.
    std::vector<uint8_t> file(data, data + std::min(fileLength, size));
    if (fileLength > size && fileLength <= 4096) {
        for (size_t i = file.size(); i < fileLength; ++i) file.push_back(static_cast<uint8_t>(i));
    }
    data += std::min(fileLength, size);
    size -= std::min(fileLength, size);

    const std::string& path = fuzz::InputPath("demo.bin");
    if (!fuzz::WriteInput(path, file.data(), file.size())) return 0;
    DemoLoadResult result{};
    auto store = MakeDemoRecordStore(path, result);
    if (result == DemoLoadResult::Loaded) {
        if (file.size() < static_cast<size_t>(demo::kLayoutLength)) fuzz::Broken("short image");
    } else if (store->LastError().empty()) {
        fuzz::Broken("refused without a text");
    }

    uint8_t source[256];
    for (int i = 0; i < 256; ++i) source[i] = static_cast<uint8_t>(0xA0 ^ i);
    for (; size >= 5; data += 5, size -= 5) {
        const int kind = data[0] % 4;
        const int address = data[1] | data[2] << 8;
        const int length = static_cast<int8_t>(data[3]) * (data[0] & 0x80 ? 2 : 1);
        const uint8_t space = data[4] % 5;
        switch (kind) {
        case 0: {
            // A buffer of exactly what the caller promises: `length` bytes, or 255 bytes for a
            // self-sized read.
            const size_t room = length > 0 ? static_cast<size_t>(length) : 255;
            auto dst = std::make_unique<uint8_t[]>(room);
            const StoreResult read = store->Read(address, length, dst.get(), space);
            if (read.Length() > static_cast<int>(room)) fuzz::Broken("read more than asked for");
            if (read.Ok() && !store->Loaded()) fuzz::Broken("read from an image not loaded");
            break;
        }
        case 1: {
            const size_t room = length > 0 ? static_cast<size_t>(length) : 1;
            auto src = std::make_unique<uint8_t[]>(room);
            std::memcpy(src.get(), source, std::min<size_t>(room, sizeof source));
            if (store->Write(address, length, src.get(), space).Ok() && length > 0) {
                if (FileBytes(path) != store->Image()) fuzz::Broken("file differs from memory");
            }
            break;
        }
        case 2:
            store->ReadSizes();
            break;
        default:
            store->Release();
            break;
        }
    }
    return 0;
}
