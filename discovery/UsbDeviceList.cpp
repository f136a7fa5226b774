#include "discovery/UsbDeviceList.h"

#include <map>
#include <optional>

#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"
#include "discovery/UsbState.h"

namespace kv {

namespace {

// USB entries are the only DeviceList entries without an address or port name.
bool isUsbEntry(const TMatrixRec& entry) {
    return entry.IP.empty() && entry.MAC.empty();
}

bool sameDevice(const HidDeviceInfo& a, const HidDeviceInfo& b) {
    return a.manufacturer == b.manufacturer && a.product == b.product && a.serial == b.serial;
}

void pollDeviceChanges(Context& ctx, UsbState& usb) {
    std::map<std::string, HidDeviceInfo> now;
    try {
        for (auto& device : ctx.ports.HidCtl->enumerate()) now[device.path] = device;
    } catch (const std::exception&) {
        return;  // try again at the next poll
    }
    if (!usb.present) {
        usb.present = std::move(now);
        return;
    }
    std::vector<HidDeviceInfo> left;
    bool changed = false;
    for (const auto& [path, before] : *usb.present) {
        auto it = now.find(path);
        if (it == now.end() || !sameDevice(it->second, before)) {
            left.push_back(before);
            changed = true;
        }
    }
    for (const auto& [path, after] : now) {
        if (!usb.present->count(path)) changed = true;
    }
    if (!changed) return;
    usb.present = std::move(now);
    // The removal notices come before the change notice, as the HID layer sends them.
    for (const auto& device : left) HidCtlRemoval(ctx, device);
    HidCtlDeviceChange(ctx);
}

void deliverInputReports(Context& ctx, UsbState& usb) {
    struct Delivering {
        bool& flag;
        explicit Delivering(bool& f) : flag(f) { flag = true; }
        ~Delivering() { flag = false; }
    } delivering(usb.delivering);

    const std::uint64_t generation = usb.listGeneration;
    for (std::size_t i = 0; i < usb.claimed.size(); ++i) {
        for (int n = 0; n < kHidReportsPerPump; ++n) {
            HidDevice* device = usb.claimed[i].device.get();
            if (!device) break;
            std::optional<Bytes> report;
            try {
                report = device->readReport();
            } catch (const ChannelError&) {
                break;  // unplugged: the next poll rebuilds the list
            }
            if (!report) break;
            if (usb.inputReport) usb.inputReport(ctx, *device, *report);
            if (usb.listGeneration != generation) return;
        }
    }
}

}  // namespace

void HidCtlDeviceChange(Context& ctx) {
    if (!ctx.usb) return;  // the window is still being built
    UsbState& usb = *ctx.usb;
    usb.CurrentHidDevice = nullptr;
    try {
        ctx.state.usbRows.clear();
        usb.claimed.clear();
        usb.denied.clear();
        ++usb.listGeneration;
        if (ctx.ports.HidCtl) {
            for (const auto& device : ctx.ports.HidCtl->enumerate()) {
                if (!HidCtlEnumerate(ctx, device)) break;
            }
        }
    } catch (const std::exception&) {
        // A failed rebuild leaves what was listed so far.
    }
    ctx.showUsbList();
}

bool HidCtlEnumerate(Context& ctx, const HidDeviceInfo& device) {
    if (!ctx.usb || !ctx.ports.HidCtl) return true;
    try {
        if (device.manufacturer != kHidMakerName) return true;
        // Claimed before anything is listed, so that a device that cannot be opened
        // leaves no row behind that would lead nowhere.
        std::unique_ptr<HidDevice> claimed = ctx.ports.HidCtl->open(device);
        if (!claimed) return true;
        UsbState& usb = *ctx.usb;
        const std::size_t k = usb.claimed.size();
        usb.claimed.push_back({device.product + ":" + device.serial, device, std::move(claimed)});
        TMatrixRec entry;
        entry.Ident = device.product;
        entry.Serial = device.serial;
        ctx.state.DeviceList.push_back(std::move(entry));
        ctx.state.usbRows.push_back({device.product, device.serial, std::to_string(k)});
    } catch (const AccessDenied& e) {
        // Left out as before; the log says why and what to do.
        ctx.log_line(e.what());
        ctx.usb->denied.emplace_back(device, e.what());
    } catch (const std::exception&) {
        // skipped silently
    }
    return true;
}

void HidCtlRemoval(Context& ctx, const HidDeviceInfo& device) {
    auto& list = ctx.state.DeviceList;
    const auto selected = static_cast<std::size_t>(ctx.state.SelectedDevice);
    // Network and COM entries, and the entry at SelectedDevice, are never taken.
    auto removable = [&](std::size_t i) { return i != selected && isUsbEntry(list[i]); };

    std::optional<std::size_t> victim;
    // The oldest entry of the device that left ...
    for (std::size_t i = 0; i < list.size() && !victim; ++i) {
        if (removable(i) && list[i].Ident == device.product && list[i].Serial == device.serial)
            victim = i;
    }
    // ... else the oldest entry that a later enumeration listed again.
    for (std::size_t i = 0; i < list.size() && !victim; ++i) {
        if (!removable(i)) continue;
        for (std::size_t j = i + 1; j < list.size(); ++j) {
            if (isUsbEntry(list[j]) && list[j].Ident == list[i].Ident &&
                list[j].Serial == list[i].Serial) {
                victim = i;
                break;
            }
        }
    }
    if (!victim) return;
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(*victim));
    if (*victim < selected) --ctx.state.SelectedDevice;
}

void HidCtlPoll(Context& ctx) {
    if (!ctx.usb || ctx.usb->delivering) return;
    UsbState& usb = *ctx.usb;
    if (ctx.ports.HidCtl && ctx.clock.now() >= usb.nextPoll) {
        usb.nextPoll = ctx.clock.now() + kHidPollInterval;
        pollDeviceChanges(ctx, usb);
    }
    deliverInputReports(ctx, usb);
}

}  // namespace kv
