#include "HidapiBus.h"

#include <hidapi/hidapi.h>
#include <mutex>

#ifdef __linux__
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "DeviceAccess.h"
#include "HidapiDevice.h"
#include "HidapiReportDescriptor.h"
#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"

namespace kv {

namespace {

// What the USB devices use when the descriptor cannot be read: report ID + 64 bytes.
constexpr int kFallbackReportLength = 65;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

HidapiBus::HidapiBus() {
    // hidapi's initialisation is process-wide and not safe to run on two threads at once;
    // kvboot makes one bus per device session, each on its own engine thread.
    static std::once_flag initialised;
    std::call_once(initialised, [] { hid_init(); });
}

std::string HidapiBus::toUtf8(const wchar_t* text) {
    std::string out;
    if (!text) return out;
    for (const wchar_t* p = text; *p; ++p) {
        char32_t c = static_cast<char32_t>(*p);
        // Windows hands out UTF-16: join surrogate pairs.
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(p[1]) - 0xDC00);
            ++p;
        }
        appendUtf8(out, c);
    }
    return out;
}

int HidapiBus::outputReportLength(const std::string& path) {
#ifdef __linux__
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    int length = 0;
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = static_cast<__u32>(size);
        if (::ioctl(fd, HIDIOCGRDESC, &descriptor) == 0) {
            length = HidapiOutputReportLength(ByteView(descriptor.value, descriptor.size));
        }
    }
    ::close(fd);
    return length;
#else
    (void)path;
    return 0;
#endif
}

std::vector<HidDeviceInfo> HidapiBus::enumerate() {
    std::vector<HidDeviceInfo> out;
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* d = list; d; d = d->next) {
        out.push_back({d->path ? d->path : "", toUtf8(d->manufacturer_string),
                       toUtf8(d->product_string), toUtf8(d->serial_number)});
    }
    hid_free_enumeration(list);
    return out;
}

std::unique_ptr<HidDevice> HidapiBus::open(const HidDeviceInfo& device) {
    hid_device* handle = hid_open_path(device.path.c_str());
    if (!handle) {
        if (LacksAccess(device.path))
            throw AccessDenied(HidAccessMessage(device.product, device.serial, device.path));
        return nullptr;
    }
    int length = outputReportLength(device.path);
    return std::make_unique<HidapiDevice>(handle, length > 1 ? length : kFallbackReportLength);
}

}  // namespace kv
