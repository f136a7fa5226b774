#include "FakeHidBus.h"

#include <algorithm>

#include "core/ports/ChannelError.h"

namespace kv::test {

class FakeHidBus::Handle : public HidDevice {
  public:
    Handle(FakeHidBus& bus, std::size_t slot, int generation)
        : bus_(bus), slot_(slot), generation_(generation) {}

    int outputReportLength() const override {
        const Slot& s = bus_.slots_[slot_];
        return s.model ? s.model->outputReportLength : 65;
    }
    void writeReport(ByteView report) override { bus_.write(slot_, generation_, report); }
    std::optional<Bytes> readReport() override {
        Slot& s = bus_.slots_[slot_];
        if (s.generation != generation_ || !bus_.present(s) || s.inbox.empty()) return std::nullopt;
        Bytes report = std::move(s.inbox.front());
        s.inbox.pop_front();
        return report;
    }

  private:
    FakeHidBus& bus_;
    std::size_t slot_;
    int generation_;
};

std::string FakeHidBus::plug(const std::string& manufacturer, const std::string& product,
                             const std::string& serial) {
    Slot slot;
    slot.info = {"", manufacturer, product, serial};
    newNode(slot);
    slots_.push_back(std::move(slot));
    return slots_.back().info.path;
}

std::string FakeHidBus::plug(sim::HidBootloaderDevice& device) {
    std::string path = plug(device.manufacturer(), device.product(), device.serial());
    slots_.back().model = &device;
    return path;
}

void FakeHidBus::unplug(const std::string& path) {
    if (Slot* s = findByPath(path)) {
        s->plugged = false;
        ++s->generation;
        s->inbox.clear();
    }
}

void FakeHidBus::unplug(const sim::HidBootloaderDevice& device) {
    for (auto& s : slots_) {
        if (s.model == &device && s.plugged) unplug(s.info.path);
    }
}

std::string FakeHidBus::pathOf(const sim::HidBootloaderDevice& device) const {
    for (const auto& s : slots_) {
        if (s.model == &device && present(s)) return s.info.path;
    }
    return {};
}

void FakeHidBus::inject(const std::string& path, Bytes report) {
    if (Slot* s = findByPath(path)) s->inbox.push_back(std::move(report));
}

FakeHidBus::Slot* FakeHidBus::findByPath(const std::string& path) {
    for (auto& s : slots_) {
        if (s.info.path == path && s.plugged) return &s;
    }
    return nullptr;
}

std::vector<HidDeviceInfo> FakeHidBus::enumerate() {
    ++enumerations;
    std::vector<const Slot*> nodes;
    for (const auto& s : slots_) {
        if (present(s)) nodes.push_back(&s);
    }
    std::sort(nodes.begin(), nodes.end(), [](auto* a, auto* b) { return a->node < b->node; });
    std::vector<HidDeviceInfo> out;
    for (const Slot* s : nodes) out.push_back(s->info);
    return out;
}

std::unique_ptr<HidDevice> FakeHidBus::open(const HidDeviceInfo& device) {
    if (failOpen.count(device.path)) return nullptr;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].info.path == device.path && present(slots_[i])) {
            return std::make_unique<Handle>(*this, i, slots_[i].generation);
        }
    }
    return nullptr;
}

void FakeHidBus::write(std::size_t index, int generation, ByteView report) {
    Slot& s = slots_[index];
    if (s.generation != generation || !present(s))
        throw ChannelError("HID device is not connected");
    written.emplace_back(report.begin(), report.end());
    if (!s.model) return;
    for (auto& reply : s.model->receive(report)) {
        if (++inputReports == loseInputReport) {
            ++lostInputReports;
            continue;
        }
        s.inbox.push_back(std::move(reply));
    }
    if (s.model->takeResetRequest()) {
        // Off the bus while it restarts; it comes back as a new device node.
        ++s.generation;
        s.inbox.clear();
        s.backAt = clock_.now() + resetDowntime;
        newNode(s);
    }
}

}  // namespace kv::test
