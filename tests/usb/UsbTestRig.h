#pragma once

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "FakeRig.h"
#include "HexBytes.h"
#include "HidBootloaderDevice.h"
#include "discovery/UsbDeviceList.h"
#include "discovery/UsbState.h"
#include "flash/HidBootloader.h"

namespace kv::test {

// A fake rig with the HID events registered and the first poll taken (devices plugged
// before that count as present at start).
struct UsbRig : FakeRig {
    UsbRig() {
        RegisterHidEvents(ctx);
        ctx.ProcessMessages();
    }
    // Lets the next device-change poll run.
    void settle() {
        clock.advance(kHidPollInterval);
        ctx.ProcessMessages();
    }
    HidState& link() { return hidState(ctx); }
    UsbState& usb() { return *ctx.usb; }
    int rowOf(const std::string& product) const {
        for (std::size_t i = 0; i < state.usbRows.size(); ++i)
            if (state.usbRows[i].product == product) return static_cast<int>(i);
        return -1;
    }
    std::string path(const std::string& name) const { return (folder / name).string(); }
    // Double click on the device's row, answering the question with `answer`.
    void chooseDevice(const sim::HidBootloaderDevice& device, MsgButton answer = MsgButton::Yes) {
        ui.answers.push_back(answer);
        UsbDeviceChosen(ctx, rowOf(device.product()));
    }
    // Plugs the device, lets the list pick it up and double-clicks it with Yes.
    void connect(sim::HidBootloaderDevice& device) {
        hid.plug(device);
        settle();
        chooseDevice(device);
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& d : ui.dialogs)
            if (d.type == ScriptedUi::Dialog::Message || d.type == ScriptedUi::Dialog::Error)
                out.push_back(d.text);
        return out;
    }
};

// A firmware image for the USB devices: a string descriptor naming the product in the
// lines after 0x1830, the line at 0x1FF0, and data from 0x2000 to the top of the flash.
struct UsbImage {
    std::map<int, std::uint8_t> bytes;
    std::vector<std::string> lines;

    static std::uint8_t pattern(int address) {
        return static_cast<std::uint8_t>(address * 7 + (address >> 8) + 3);
    }

    explicit UsbImage(const std::string& product, int dataEnd = 0x10000) {
        std::vector<std::uint8_t> low(0x2000 - 0x1800, 0x00);
        std::vector<std::uint8_t> descriptor = {static_cast<std::uint8_t>(2 + 2 * product.size()),
                                                0x03};
        for (char c : product) {
            descriptor.push_back(static_cast<std::uint8_t>(c));
            descriptor.push_back(0x00);
        }
        for (std::size_t i = 0; i < descriptor.size(); ++i) low[0x40 + i] = descriptor[i];
        for (int a = 0x1800; a < 0x2000; a += 16)
            add(a, std::vector<std::uint8_t>(low.begin() + (a - 0x1800),
                                             low.begin() + (a - 0x1800) + 16));
        for (int a = 0x2000; a < dataEnd; a += 16) {
            std::vector<std::uint8_t> d;
            for (int i = 0; i < 16; ++i) d.push_back(pattern(a + i));
            add(a, d);
        }
        lines.push_back(":00000001FF");
    }
    void add(int address, const std::vector<std::uint8_t>& data) {
        lines.push_back(sim::HexRecordLine(0, static_cast<std::uint16_t>(address), data));
        for (std::size_t i = 0; i < data.size(); ++i)
            bytes[address + static_cast<int>(i)] = data[i];
    }
    void write(const std::string& file) const {
        std::ofstream out(file, std::ios::binary);
        for (const auto& l : lines) out << l << "\r\n";
    }
};

}  // namespace kv::test
