// Control interface of the fake USB library (libvelmar_fakeusb.so): it speaks the libusb 0.1
// interface the tool binds at run time and emulates converters of our family. Each converter
// channel either talks to a terminal (the pty of a controller simulator), echoes what it sends
// (loopback), or keeps what it sends for a test to look at.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct FakeUsbDeviceConfig {
    uint16_t vendorId;        // 0x16C0 for the family
    const char* manufacturer; // "Velmar Devices" for the family
    const char* product;      // "Tarvi4", "Oblen220", "Murik", "Zelta3", ...
    uint32_t serial;          // reported by request 0x20 and as the serial-number string
    int channels;             // reported by request 0x23
    uint32_t clock;           // UART clock in Hz, reported by request 0x20
    int identifyBytes;        // bytes request 0x20 answers (8; 0 = no data)
    int answersChannelCount;  // 0: request 0x23 fails
    int opens;                // 0: usb_open fails
    int simpleStrings;        // 0: usb_get_string_simple fails (descriptor fallback needed)
};

// A config with the family's defaults for `serial`, `channels` and `product`.
struct FakeUsbDeviceConfig fakeusb_default_config(uint32_t serial, int channels,
                                                  const char* product);

// Forgets every device (open handles go dead), failure injections and the request record.
void fakeusb_reset(void);
// Plugs a device in; it shows up at the next usb_find_devices. Returns a device id >= 0.
int fakeusb_add_device(const struct FakeUsbDeviceConfig* config);
// Shorthand for a family converter with the default config.
int fakeusb_add_converter(uint32_t serial, int channels, const char* product);
// Pulls the device out (its handles fail from now on) or plugs it back in (a new device as far
// as handles go; channel connections are kept).
void fakeusb_unplug(int device);
void fakeusb_plug(int device);

// Channel 0 or 1 talks to the terminal at `ttyPath` (opened raw; the speed follows the divisor
// the tool sets). 0 or errno.
int fakeusb_connect_channel(int device, int channel, const char* ttyPath);
void fakeusb_set_loopback(int device, int channel, int on);
// Bytes arriving on the channel's line, as if a controller had sent them.
void fakeusb_inject(int device, int channel, const uint8_t* bytes, size_t count);
// Bytes waiting in the channel's receive FIFO (at most 128).
size_t fakeusb_rx_pending(int device, int channel);
// Bytes the channel sent while neither connected nor looped back; returns how many were copied
// (and removed).
size_t fakeusb_take_sent(int device, int channel, uint8_t* out, size_t max);
// Line settings the tool last set: baud from the divisor (clock / 16 / (divisor + 1)), the raw
// divisor and the format flags; -1 before any.
long fakeusb_baud(int device, int channel);
long fakeusb_divisor(int device, int channel);
long fakeusb_format(int device, int channel);

// The next `count` control transfers with request code `request` (-1: any) fail. A failed fetch
// (0x22) still takes its bytes out of the converter, as when the reply is lost on the cable.
void fakeusb_fail_requests(int request, int count);
void fakeusb_fail_transfers(int count);
// Every control transfer from now on takes `ms` before it acts, as on a host too busy to keep
// up; 0 ends that.
void fakeusb_set_transfer_delay_ms(int ms);

struct FakeUsbRequest {
    int device;
    int requestType;
    int request;
    int value;
    int index;
    int size;
    int result;
    long long atUs; // steady clock, microseconds: when the transfer acted (bytes sent, say)
};
// The control transfers seen since the last clear (the most recent 65536 at most).
size_t fakeusb_requests(struct FakeUsbRequest* out, size_t max);
void fakeusb_clear_requests(void);
int fakeusb_open_handles(void);
// Calls of usb_find_devices so far.
int fakeusb_scans(void);

#ifdef __cplusplus
}
#endif
