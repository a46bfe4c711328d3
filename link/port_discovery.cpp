#include "link/port_discovery.h"

#include "base/byte_order.h"
#include "link/converter_pump.h"
#include "link/usb_library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmar {
namespace {

constexpr int kTimeoutMs = 1000;

PortList portList;

bool Full() {
    return portList.count >= kPortListMax;
}

void Add(const char* name, const DeviceRecord& record) {
    if (Full()) return;
    PortListEntry& e = portList.entries[static_cast<size_t>(portList.count++)];
    std::snprintf(e.name, sizeof e.name, "%s", name);
    e.record = record;
}

bool EarlierTarviOrOblen() {
    for (int i = 0; i < portList.count; ++i) {
        const uint8_t kind = portList.entries[static_cast<size_t>(i)].record.kind;
        if (kind == kDeviceTarvi4 || kind == kDeviceOblen220) return true;
    }
    return false;
}

// One device of the family, or nothing when it is not ours or does not answer.
void ExamineDevice(usb_device* dev) {
    usb_dev_handle* h = UsbOpen(dev);
    if (h == nullptr) return;
    char text[256];
    DeviceRecord record;
    if (ReadUsbString(h, dev->descriptor.iManufacturer, text, sizeof text) < 0 ||
        std::strcmp(text, kConverterManufacturer) != 0 ||
        ReadUsbString(h, dev->descriptor.iProduct, text, sizeof text) < 0) {
        UsbClose(h);
        return;
    }
    record.kind = DeviceKindOfProduct(text);
    unsigned char ident[8] = {};
    const int got = UsbControlMsg(h, kVendorIn, kReqIdentify, 0, 0, reinterpret_cast<char*>(ident),
                                  sizeof ident, kTimeoutMs);
    record.serial = got >= 4 ? GetLE(ident, 4) : 0xFFFFFFFFu;
    unsigned char channels = 0;
    const int counted = UsbControlMsg(h, kVendorIn, kReqChannelCount, 0, 0,
                                      reinterpret_cast<char*>(&channels), 1, kTimeoutMs);
    UsbClose(h);
    if (counted < 1) return;
    record.channels = channels;

    char name[kPortListNameMax + 1];
    const auto serial = static_cast<unsigned long>(record.serial);
    if (channels == 0) {
        if (!EarlierTarviOrOblen()) Add("UKEY", record);
    } else if (channels == 1) {
        std::snprintf(name, sizeof name, "U_%lu", serial);
        Add(name, record);
    } else {
        std::snprintf(name, sizeof name, "U_%lu_1", serial);
        Add(name, record);
        std::snprintf(name, sizeof name, "U_%lu_2", serial);
        Add(name, record);
    }
}

void DiscoverConverters() {
    const bool initialPause = ConverterPumpInInitialPause();
    if (!initialPause) PauseConverterPump();
    StartUsbLibrary();
    // Look again each time: a converter plugged in after start-up shows up too.
    UsbFindBusses();
    UsbFindDevices();
    for (usb_bus* bus = UsbGetBusses(); bus != nullptr && !Full(); bus = bus->next) {
        for (usb_device* dev = bus->devices; dev != nullptr && !Full(); dev = dev->next) {
            if (dev->descriptor.idVendor == kConverterVendorId) ExamineDevice(dev);
        }
    }
    if (!initialPause) ResumeConverterPump();
}

// Splits "ttyS10x" into the part before the first digit, the digit run and the rest.
struct NameParts {
    std::string_view prefix;
    std::string_view digits; // without leading zeros
    std::string_view rest;
};

NameParts Split(std::string_view name) {
    NameParts p;
    size_t i = 0;
    while (i < name.size() && (name[i] < '0' || name[i] > '9')) ++i;
    p.prefix = name.substr(0, i);
    size_t j = i;
    while (j < name.size() && name[j] >= '0' && name[j] <= '9') ++j;
    std::string_view digits = name.substr(i, j - i);
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    p.digits = digits;
    p.rest = name.substr(j);
    return p;
}

} // namespace

uint8_t DeviceKindOfProduct(const char* product) {
    if (std::strcmp(product, "Tarvi4") == 0) return kDeviceTarvi4;
    if (std::strcmp(product, "Oblen220") == 0) return kDeviceOblen220;
    if (std::strcmp(product, "Murik") == 0) return kDeviceMurik;
    if (std::strcmp(product, "Zelta3") == 0) return kDeviceZelta3;
    return kDeviceOther;
}

bool PortNameLess(const char* a, const char* b) {
    const NameParts pa = Split(a);
    const NameParts pb = Split(b);
    if (pa.prefix == pb.prefix && !pa.digits.empty() && !pb.digits.empty()) {
        if (pa.digits.size() != pb.digits.size()) return pa.digits.size() < pb.digits.size();
        if (pa.digits != pb.digits) return pa.digits < pb.digits;
        if (pa.rest != pb.rest)
            return PortNameLess(std::string(pa.rest).c_str(), std::string(pb.rest).c_str());
    }
    return std::strcmp(a, b) < 0;
}

const PortList& GetPortList() {
    return portList;
}

int DiscoverPorts(SystemPortSource source) {
    portList = PortList{};
    const std::vector<std::string> system = source();
    for (const std::string& name : system) {
        if (Full()) break;
        // A cut name would open another device or none: such a port is left out.
        if (name.empty() || name.size() > kPortListNameMax) continue;
        Add(name.c_str(), DeviceRecord{});
    }
    if (!Full()) DiscoverConverters();
    if (portList.count > 1) {
        std::stable_sort(portList.entries.begin(), portList.entries.begin() + portList.count,
                         [](const PortListEntry& x, const PortListEntry& y) {
                             // The system's serial ports first, then the converter family:
                             // Linux names ("ttyS0") would otherwise sort after "U_...".
                             const bool xFamily = x.record.kind != 0;
                             const bool yFamily = y.record.kind != 0;
                             if (xFamily != yFamily) return yFamily;
                             return PortNameLess(x.name, y.name);
                         });
    }
    return 1;
}

} // namespace velmar
