#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ports/Ports.h"

namespace kv {

// Owns the real channel objects of the program and hands them out as Ports.
// Create and use it on the engine thread: the Qt channel objects belong to the
// thread that made them.
class PlatformPorts {
  public:
    PlatformPorts();
    ~PlatformPorts();
    PlatformPorts(const PlatformPorts&) = delete;
    PlatformPorts& operator=(const PlatformPorts&) = delete;

    Ports& ports() { return ports_; }
    // Where the channels write what they tolerate but the log should show (a COM port
    // refusing a parity setting); without a sink it goes to the Qt warning output.
    void setLogSink(std::function<void(const std::string&)> sink);

  private:
    Ports ports_;
    struct Owned;
    std::unique_ptr<Owned> owned_;
};

}  // namespace kv
