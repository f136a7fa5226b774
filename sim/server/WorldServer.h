#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QObject>

#include "World.h"

class QUdpSocket;

namespace kv::sim {

class PtyLine;

// Serves the devices of a World over real sockets and ptys: a TCP server per listener,
// a UDP socket per binding, a pty per serial line. Every call into a device model is made
// under mutex(), so another thread may inspect the models while holding it. Lives on the
// thread whose event loop runs it.
class WorldServer : public QObject {
  public:
    explicit WorldServer(World& world);
    ~WorldServer() override;

    // Serves every TCP listener and UDP binding at its own address and port, and the
    // broadcast addresses of the UDP bindings where they can be bound. Returns one line per
    // endpoint; throws std::runtime_error when a listener or binding cannot be served.
    std::vector<std::string> serveAll();

    // Serves one listener or binding of the world at another address or port (0: any).
    // Returns the port actually bound; throws std::runtime_error when it cannot be.
    std::uint16_t serveTcp(const std::string& worldAddress, std::uint16_t worldPort,
                           const std::string& bindAddress, std::uint16_t bindPort);
    std::uint16_t serveUdp(const std::string& worldAddress, std::uint16_t worldPort,
                           const std::string& bindAddress, std::uint16_t bindPort);

    // Serves the world's serial line `portName` on a new pty, reachable through a symlink
    // at linkPath (replaced if it is a symlink already). Returns the pty's own path.
    std::string servePty(const std::string& portName, const std::string& linkPath);

    // Paces the TCP listener at worldAddress:worldPort (connections accepted from now on) at
    // the rate of the serial line behind it, as a module's tunnel is: the tool's bytes reach
    // the device after their wire time, queued behind what is still on the line, and the
    // reply leaves at the same pace. `line` is asked under mutex() for every chunk; a baud
    // rate of 0 (or no `line`) leaves the chunk unpaced. Every reply is held back a further
    // `roundTrip`, the network's delay between the tool and the device. The server thread
    // never sleeps: replies are sent by timers, so one paced device never holds up another.
    using LineOf = std::function<LineSettings()>;
    void paceTcp(const std::string& worldAddress, std::uint16_t worldPort, LineOf line,
                 std::chrono::milliseconds roundTrip = {});

    std::mutex& mutex() { return mutex_; }

  private:
    void answerDatagrams(QUdpSocket* socket, DatagramPeer* peer);
    void answerBroadcasts(QUdpSocket* socket, const std::string& broadcast, std::uint16_t port);

    World& world_;
    std::mutex mutex_;
    std::map<std::pair<std::string, std::uint16_t>, QUdpSocket*> udpSockets_;
    struct Pace {
        LineOf line;
        std::chrono::milliseconds roundTrip{0};
    };
    std::map<std::pair<std::string, std::uint16_t>, Pace> paced_;
    std::vector<std::unique_ptr<PtyLine>> ptys_;
};

}  // namespace kv::sim
