// The USB access library (the libusb 0.1 interface), bound at run time so the tool runs without
// it and then simply finds no converters. Every call goes through a wrapper that answers -2 (or
// no handle, no bus list) while the library or the entry is missing.
#pragma once

#include <cstddef>
#include <cstdint>

// The libusb 0.1 public structures, as its Linux header lays them out.
extern "C" {
struct usb_dev_handle; // opaque

struct usb_device_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};

struct usb_config_descriptor;
struct usb_bus;

inline constexpr int kUsbPathMax = 4096 + 1;

struct usb_device {
    usb_device* next;
    usb_device* prev;
    char filename[kUsbPathMax];
    usb_bus* bus;
    usb_device_descriptor descriptor;
    usb_config_descriptor* config;
    void* dev;
    uint8_t devnum;
    unsigned char num_children;
    usb_device** children;
};

struct usb_bus {
    usb_bus* next;
    usb_bus* prev;
    char dirname[kUsbPathMax];
    usb_device* devices;
    uint32_t location;
    usb_device* root_dev;
};
}

namespace velmar {

// File name of the library; $VELMAR_LIBUSB names another one (tests bind a fake with it).
inline constexpr const char* kUsbLibraryFile = "libusb-0.1.so.4";
inline constexpr uint16_t kConverterVendorId = 0x16C0;
// Manufacturer string every device of our converter family reports.
inline constexpr const char* kConverterManufacturer = "Velmar Devices";

// Binds the library once per run, initialises it and scans the busses. Always 1.
int StartUsbLibrary();
bool UsbLibraryLoaded();
// Unbinds it so the next StartUsbLibrary binds afresh (tests; never while a converter is open).
void StopUsbLibrary();

// Wrappers; -2 / nullptr when the library or the entry is missing.
int UsbFindBusses();
int UsbFindDevices();
usb_bus* UsbGetBusses();
usb_dev_handle* UsbOpen(usb_device* dev);
int UsbClose(usb_dev_handle* handle);
int UsbGetStringSimple(usb_dev_handle* handle, int index, char* buf, size_t size);
int UsbControlMsg(usb_dev_handle* handle, int requestType, int request, int value, int index,
                  char* bytes, int size, int timeoutMs);
// Resets the device: the extended reset of type 3 where the library has it, else the plain one.
int UsbResetDevice(usb_dev_handle* handle);

// A string descriptor as 8-bit text (characters above 0xFF become '?'), zero-terminated within
// `size`; the number of characters, or a negative library code.
int ReadUsbString(usb_dev_handle* handle, int index, char* buf, int size);

// Vendor requests of the converter family (device-to-host / host-to-device).
inline constexpr int kVendorIn = 0xC0;
inline constexpr int kVendorOut = 0x40;
inline constexpr int kReqIdentify = 0x20;     // 8 bytes: serial (LE32), UART clock in Hz (LE32)
inline constexpr int kReqRxCount = 0x21;      // 1 byte: bytes waiting on the channel
inline constexpr int kReqFetch = 0x22;        // value = size * 256 + channel
inline constexpr int kReqChannelCount = 0x23; // 1 byte
inline constexpr int kReqSetDivisor = 0x24;   // value = channel, index = divisor
inline constexpr int kReqSetFormat = 0x25;    // value = channel, index = flags
inline constexpr int kReqTransmit = 0x30;     // + channel bit 0x01, + length bits

} // namespace velmar
