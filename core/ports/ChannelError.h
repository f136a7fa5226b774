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

namespace kv {

// The operator interrupted the run (kvboot's Ctrl-C): the frame in flight was finished,
// nothing more is sent for the row, and the device is restored.
class Interrupted : public KvError {
  public:
    Interrupted() : KvError("Interrupted by the operator") {}
    const char* className() const noexcept override { return "EInterrupted"; }
};

}  // namespace kv
