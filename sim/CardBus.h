#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "ModuleGpio.h"
#include "Peers.h"

namespace kv::sim {

// The device's internal serial bus behind the network module (or behind a COM port):
// the module's serial side reaches the one card that the GPIO lines select, either by
// the 3-bit select code or by the value latched from the shift register. Peers attached
// "always" sit on the bus itself (a main controller) and hear every byte. All peers
// share the bus's line setting.
class CardBus : public StreamPeer {
  public:
    // What selects a card at a given moment.
    struct Selection {
        std::uint8_t selectCode = 7;
        std::optional<std::uint16_t> shiftRegister;
        LineSettings line;
    };
    using Router = std::function<StreamPeer*(const Selection&)>;

    // A bus without GPIO wiring (serial devices) routes only by router, default and the
    // always-attached peers.
    explicit CardBus(const ModuleGpio* gpio = nullptr) : gpio_(gpio) {}

    void attach(int selectCode, StreamPeer* peer);
    void attachByShiftRegister(std::uint16_t value, StreamPeer* peer);
    void attachAlways(StreamPeer* peer);
    // The peer reached when no select code or register value picks one.
    void setDefault(StreamPeer* peer);
    // Replaces the select code and shift register tables. The peers it picks hear line
    // changes only when they are attached as well (any table, or as default).
    void setRouter(Router router) { router_ = std::move(router); }

    Selection selection() const;
    StreamPeer* selected() const;

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override;

    // Where bytes went, for tests.
    struct Delivery {
        StreamPeer* peer;
        Bytes data;
    };
    std::vector<Delivery> deliveries;
    std::size_t unroutedBytes = 0;

  private:
    void tell(StreamPeer* peer);

    const ModuleGpio* gpio_;
    std::map<int, StreamPeer*> bySelectCode_;
    std::map<std::uint16_t, StreamPeer*> byRegister_;
    std::vector<StreamPeer*> always_;
    StreamPeer* default_ = nullptr;
    Router router_;
    std::optional<LineSettings> line_;
};

}  // namespace kv::sim
