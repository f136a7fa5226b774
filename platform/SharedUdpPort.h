#pragma once

#include <functional>
#include <memory>

#include "core/ports/UdpSocket.h"

namespace kv {

// One socket on a UDP port for the whole process, shared by several users: the discovery
// listeners of kvboot's device sessions on UDP 30718. The modules answer a query to the
// port it came from, and of several sockets sharing that port only one would get a
// unicast answer; one socket, handing each answer to the user that asked its sender, lets
// many sessions look up their devices at once.
//
// Each user holds a UdpSocket of its own (open()): binding it joins the port (the first
// bind opens the real socket), closing it leaves (the last close closes the real socket);
// what it sends goes out of the shared socket and the hosts it sent to are its own. An
// answer from a host some user asked goes to those users only; any other datagram (an
// answer to a broadcast, a stranger) goes to every user, whose own checks decide. A user
// keeps at most kQueuedDatagrams datagrams not yet received, dropping the oldest.
//
// The real socket lives on a thread of the port's own (Qt sockets belong to the thread
// that made them), which sends, looks up host names and receives for everyone.
class SharedUdpPort {
  public:
    static constexpr std::size_t kQueuedDatagrams = 256;

    using Factory = std::function<std::unique_ptr<UdpSocket>()>;
    // `factory` makes the real socket, on the port's thread.
    explicit SharedUdpPort(Factory factory);
    ~SharedUdpPort();
    SharedUdpPort(const SharedUdpPort&) = delete;
    SharedUdpPort& operator=(const SharedUdpPort&) = delete;

    // A new user's socket; it may outlive the calls it makes, not the port.
    std::unique_ptr<UdpSocket> open();

    // The process's discovery port, on QUdpSocket.
    static SharedUdpPort& discovery();

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace kv
