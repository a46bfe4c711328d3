#include "link/usb_library.h"

#include "link/shared_library.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace velmar {
namespace {

// Every entry of the interface is bound, in this order; the tool calls only some of them.
constexpr std::array<const char*, 36> kEntryNames = {
    "usb_open",
    "usb_close",
    "usb_get_string",
    "usb_get_string_simple",
    "usb_get_descriptor_by_endpoint",
    "usb_get_descriptor",
    "usb_bulk_write",
    "usb_bulk_read",
    "usb_interrupt_write",
    "usb_interrupt_read",
    "usb_control_msg",
    "usb_set_configuration",
    "usb_claim_interface",
    "usb_release_interface",
    "usb_set_altinterface",
    "usb_resetep",
    "usb_clear_halt",
    "usb_reset",
    "usb_reset_ex",
    "usb_strerror",
    "usb_init",
    "usb_set_debug",
    "usb_find_busses",
    "usb_find_devices",
    "usb_device",
    "usb_get_busses",
    "usb_install_service_np",
    "usb_uninstall_service_np",
    "usb_install_driver_np",
    "usb_get_version",
    "usb_isochronous_setup_async",
    "usb_bulk_setup_async",
    "usb_interrupt_setup_async",
    "usb_submit_async",
    "usb_reap_async",
    "usb_free_async",
};

enum Entry : size_t {
    kOpen = 0,
    kClose = 1,
    kGetStringSimple = 3,
    kControlMsg = 10,
    kReset = 17,
    kResetEx = 18,
    kInit = 20,
    kFindBusses = 22,
    kFindDevices = 23,
    kGetBusses = 25,
};

using OpenFn = usb_dev_handle* (*)(usb_device*);
using CloseFn = int (*)(usb_dev_handle*);
using GetStringSimpleFn = int (*)(usb_dev_handle*, int, char*, size_t);
using ControlMsgFn = int (*)(usb_dev_handle*, int, int, int, int, char*, int, int);
using ResetFn = int (*)(usb_dev_handle*);
using ResetExFn = int (*)(usb_dev_handle*, unsigned int);
using InitFn = void (*)();
using FindFn = int (*)();
using GetBussesFn = usb_bus* (*)();

constexpr int kMissing = -2;
constexpr unsigned kFullReset = 3;

void* library = nullptr;
std::array<void*, kEntryNames.size()> entries{};
bool started = false;

template <typename Fn> Fn Bound(Entry e) {
    return reinterpret_cast<Fn>(entries[e]);
}

} // namespace

int StartUsbLibrary() {
    if (started) return 1;
    started = true;
    const char* file = std::getenv("VELMAR_LIBUSB");
    library = LoadSharedLibrary(file != nullptr && *file != '\0' ? file : kUsbLibraryFile);
    for (size_t i = 0; i < kEntryNames.size(); ++i) {
        entries[i] = FindLibraryEntry(library, kEntryNames[i]);
    }
    if (auto init = Bound<InitFn>(kInit)) init();
    UsbFindBusses();
    UsbFindDevices();
    return 1;
}

void StopUsbLibrary() {
    entries.fill(nullptr);
    UnloadSharedLibrary(library);
    library = nullptr;
    started = false;
}

bool UsbLibraryLoaded() {
    return library != nullptr;
}

int UsbFindBusses() {
    auto fn = Bound<FindFn>(kFindBusses);
    return fn != nullptr ? fn() : kMissing;
}

int UsbFindDevices() {
    auto fn = Bound<FindFn>(kFindDevices);
    return fn != nullptr ? fn() : kMissing;
}

usb_bus* UsbGetBusses() {
    auto fn = Bound<GetBussesFn>(kGetBusses);
    return fn != nullptr ? fn() : nullptr;
}

usb_dev_handle* UsbOpen(usb_device* dev) {
    auto fn = Bound<OpenFn>(kOpen);
    return fn != nullptr && dev != nullptr ? fn(dev) : nullptr;
}

int UsbClose(usb_dev_handle* handle) {
    auto fn = Bound<CloseFn>(kClose);
    return fn != nullptr && handle != nullptr ? fn(handle) : kMissing;
}

int UsbGetStringSimple(usb_dev_handle* handle, int index, char* buf, size_t size) {
    auto fn = Bound<GetStringSimpleFn>(kGetStringSimple);
    return fn != nullptr ? fn(handle, index, buf, size) : kMissing;
}

int UsbControlMsg(usb_dev_handle* handle, int requestType, int request, int value, int index,
                  char* bytes, int size, int timeoutMs) {
    auto fn = Bound<ControlMsgFn>(kControlMsg);
    if (fn == nullptr || handle == nullptr) return kMissing;
    return fn(handle, requestType, request, value, index, bytes, size, timeoutMs);
}

int UsbResetDevice(usb_dev_handle* handle) {
    if (handle == nullptr) return kMissing;
    if (auto ex = Bound<ResetExFn>(kResetEx)) return ex(handle, kFullReset);
    if (auto plain = Bound<ResetFn>(kReset)) return plain(handle);
    return kMissing;
}

int ReadUsbString(usb_dev_handle* handle, int index, char* buf, int size) {
    if (buf == nullptr || size <= 0) return kMissing;
    buf[0] = '\0';
    const int simple = UsbGetStringSimple(handle, index, buf, static_cast<size_t>(size));
    if (simple >= 0) {
        buf[simple < size ? simple : size - 1] = '\0';
        return simple < size ? simple : size - 1;
    }
    // The library could not: ask for the descriptor in US English ourselves.
    unsigned char desc[256] = {};
    const int got = UsbControlMsg(handle, 0x80, 6, 0x0300 + index, 0x0409,
                                  reinterpret_cast<char*>(desc), sizeof desc, 5000);
    if (got < 0) return got;
    if (got < 2 || desc[1] != 3) return 0;
    const int length = desc[0] < got ? desc[0] : got;
    int out = 0;
    for (int i = 2; i + 1 < length && out < size - 1; i += 2) {
        buf[out++] = desc[i + 1] != 0 ? '?' : static_cast<char>(desc[i]);
    }
    buf[out] = '\0';
    return out;
}

} // namespace velmar
