#pragma once

#include <stdexcept>
#include <string>

namespace kv {

// Base of every failure that ends an operation. The message is the system's own
// text ("Connection Lost Error", "Program Write Error", ...); className() is what an
// error display shows as "<class> error raised, with message : <text>".
class KvError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    virtual const char* className() const noexcept { return "EKvError"; }
};

// A socket, serial port, HID or FTP operation failed at the platform level.
class ChannelError : public KvError {
  public:
    using KvError::KvError;
    const char* className() const noexcept override { return "ESocketError"; }
};

}  // namespace kv
