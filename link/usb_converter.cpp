#include "link/usb_converter.h"

#include "base/byte_order.h"
#include "link/converter_pump.h"
#include "link/usb_library.h"

#include <cstdlib>
#include <cstring>

namespace velmar {
namespace {

constexpr int kTimeoutMs = 1000;

struct ConverterName {
    unsigned long serial = 0;
    long channel = 0; // 0-based
};

ConverterName ParseName(const char* name) {
    ConverterName parsed;
    const char* p = name + 2; // after "U_"
    char* end = nullptr;
    parsed.serial = std::strtoul(p, &end, 10);
    const char* second = std::strchr(p, '_');
    if (second != nullptr) parsed.channel = std::strtol(second + 1, nullptr, 10) - 1;
    return parsed;
}

bool SerialMatches(const char* text, unsigned long wanted) {
    return std::strtoul(text, nullptr, 10) == wanted;
}

} // namespace

int OpenConverter(PortEntry& entry, const char* name) {
    const ConverterName wanted = ParseName(name);
    for (usb_bus* bus = UsbGetBusses(); bus != nullptr; bus = bus->next) {
        for (usb_device* dev = bus->devices; dev != nullptr; dev = dev->next) {
            if (dev->descriptor.idVendor != kConverterVendorId) continue;
            // The vendor ID is shared by many small device makers: a device that will not
            // open is someone else's, not a reason to stop looking.
            usb_dev_handle* h = UsbOpen(dev);
            if (h == nullptr) continue;
            char text[256];
            if (ReadUsbString(h, dev->descriptor.iManufacturer, text, sizeof text) < 0 ||
                std::strcmp(text, kConverterManufacturer) != 0 ||
                ReadUsbString(h, dev->descriptor.iSerialNumber, text, sizeof text) < 0 ||
                !SerialMatches(text, wanted.serial)) {
                UsbClose(h);
                continue;
            }
            unsigned char ident[8] = {};
            if (UsbControlMsg(h, kVendorIn, kReqIdentify, 0, 0, reinterpret_cast<char*>(ident),
                              sizeof ident, kTimeoutMs) < static_cast<int>(sizeof ident)) {
                UsbClose(h);
                return kPortConverterNoAnswer;
            }
            unsigned char channels = 0;
            if (UsbControlMsg(h, kVendorIn, kReqChannelCount, 0, 0,
                              reinterpret_cast<char*>(&channels), 1, kTimeoutMs) < 1) {
                UsbClose(h);
                return kPortConverterNoChannelCount;
            }
            // Channels are 0 and 1 at most, and only those the converter has.
            if (wanted.channel < 0 || wanted.channel > 1 || wanted.channel >= channels) {
                UsbClose(h);
                return kPortConverterNoAnswer;
            }
            entry.usb = h;
            entry.clock = GetLE(ident + 4, 4);
            entry.channel = static_cast<uint8_t>(wanted.channel);
            return 0;
        }
    }
    return kPortConverterNotFound;
}

int ConfigureConverter(PortEntry& entry, uint32_t baud, uint8_t dataBits, char parity,
                       uint8_t stopBits) {
    if (entry.usb == nullptr || baud == 0) return kPortConverterRequestFailed;
    // A speed the UART clock cannot make is refused rather than sent as a wrapped divisor.
    const uint32_t steps = entry.clock / 16 / baud;
    if (steps == 0 || steps - 1 > 0xFFFF) return kPortConverterRequestFailed;
    const int divisor = static_cast<int>(steps - 1);
    if (UsbControlMsg(entry.usb, kVendorOut, kReqSetDivisor, entry.channel, divisor, nullptr, 0,
                      kTimeoutMs) < 0) {
        return kPortConverterRequestFailed;
    }
    int flags = dataBits == 7 ? 0x01 : 0;
    switch (parity) {
    case 'E':
        flags |= 0x02;
        break;
    case 'M':
        flags |= 0x06;
        break;
    case 'O':
        flags |= 0x04;
        break;
    case 'S':
    case 'Z':
        flags |= 0x08;
        break;
    default:
        break;
    }
    if (stopBits == 2) flags |= 0x10;
    if (UsbControlMsg(entry.usb, kVendorOut, kReqSetFormat, entry.channel, flags, nullptr, 0,
                      kTimeoutMs) < 0) {
        return kPortConverterRequestFailed;
    }
    return 0;
}

void CloseConverter(PortEntry& entry) {
    PauseConverterPump();
    if (entry.usb != nullptr) UsbClose(entry.usb);
    entry.usb = nullptr;
    entry.kind.store(PortKind::ComPort, std::memory_order_release);
    for (const PortEntry& other : portTable) {
        if (&other != &entry &&
            other.kind.load(std::memory_order_relaxed) == PortKind::UsbConverter) {
            ResumeConverterPump();
            break;
        }
    }
}

// A converter that is not found again stays open without a device: its operations give
// neutral results (nothing sent, nothing received, ConfigurePort 4) and each PortAvailable a
// second later or more tries again, so re-plugging it brings the slot back.
void ReconnectConverter(PortEntry& entry) {
    PauseConverterPump();
    if (entry.usb != nullptr) {
        UsbResetDevice(entry.usb);
        UsbClose(entry.usb);
        entry.usb = nullptr;
    }
    entry.announced = 0;
    // A frame cut off by the failure must not go out later as a stray one.
    entry.tx.Reset();
    UsbFindBusses();
    UsbFindDevices();
    if (OpenConverter(entry, entry.name) == 0) {
        if (entry.baud != 0) {
            (void)ConfigureConverter(entry, entry.baud, entry.dataBits, entry.parity,
                                     entry.stopBits);
        }
    }
    entry.converterErrors.store(0, std::memory_order_relaxed);
    entry.reconnectWanted.store(false, std::memory_order_relaxed);
    ResumeConverterPump();
}

} // namespace velmar
