#include "SharedUdpPort.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "QtUdpSocket.h"
#include "core/ports/ChannelError.h"

namespace kv {

namespace {

// How long the port's thread waits for a datagram before it looks at queued work again.
constexpr auto kReceiveRound = std::chrono::milliseconds(5);

class User;

}  // namespace

struct SharedUdpPort::Impl {
    explicit Impl(Factory f) : factory(std::move(f)) {}

    Factory factory;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
    std::set<User*> users;  // joined; changed on the port's thread and by close()
    std::uint16_t localPort = 0;
    bool stop = false;
    std::thread thread;
    std::unique_ptr<UdpSocket> socket;  // the port's thread only

    // Runs `task` on the port's thread and returns what it returned (or throws what it threw).
    template <typename F>
    auto run(F task) -> decltype(task()) {
        using Result = decltype(task());
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
        std::future<Result> done = packaged->get_future();
        {
            std::lock_guard lock(mutex);
            if (stop) throw ChannelError("The shared UDP port is closed");
            work.push_back([packaged] { (*packaged)(); });
        }
        wake.notify_all();
        return done.get();
    }

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex);
            if (stop) return;
            work.push_back(std::move(task));
        }
        wake.notify_all();
    }

    UdpSocket& real() {
        if (!socket) socket = factory();
        return *socket;
    }

    bool listening() const { return socket && socket->isBound(); }

    void loop();
    void route(Datagram datagram);
};

namespace {

class User : public UdpSocket {
  public:
    explicit User(std::shared_ptr<SharedUdpPort::Impl> port) : port_(std::move(port)) {}
    ~User() override { close(); }

    bool bind(std::uint16_t localPort, bool /*broadcast: the shared socket may always*/) override {
        if (isBound()) return true;
        auto& port = *port_;
        return port.run([&port, this, localPort] {
            if (!port.listening()) {
                port.localPort = localPort;
                if (!port.real().bind(localPort, true)) return false;
            }
            std::lock_guard lock(port.mutex);
            port.users.insert(this);
            joined_ = true;
            return true;
        });
    }

    bool isBound() const override {
        std::lock_guard lock(port_->mutex);
        return joined_;
    }

    void close() override {
        auto& port = *port_;
        {
            std::lock_guard lock(port.mutex);
            if (!joined_) return;
            joined_ = false;
            port.users.erase(this);
            asked_.clear();
            queue_.clear();
        }
        arrived_.notify_all();
        // The last user gone, the port is given back to the machine.
        port.post([&port] {
            bool empty = false;
            {
                std::lock_guard lock(port.mutex);
                empty = port.users.empty();
            }
            if (empty && port.socket) port.socket->close();
        });
    }

    void sendTo(const std::string& address, std::uint16_t remotePort, ByteView data) override {
        auto& port = *port_;
        port.run([&port, this, &address, remotePort, data] {
            if (!isBound()) throw ChannelError("The discovery listener is not open");
            UdpSocket& socket = port.real();
            const std::string asked = socket.addressOf(address);
            {
                // Before the datagram leaves, so its answer finds who asked.
                std::lock_guard lock(port.mutex);
                asked_.insert(asked);
            }
            socket.sendTo(address, remotePort, data);
        });
    }

    std::optional<Datagram> receive(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(port_->mutex);
        arrived_.wait_for(lock, timeout, [this] { return !queue_.empty() || !joined_; });
        if (queue_.empty()) return std::nullopt;
        Datagram datagram = std::move(queue_.front());
        queue_.pop_front();
        return datagram;
    }

    std::string addressOf(const std::string& host) override {
        auto& port = *port_;
        return port.run([&port, &host] { return port.real().addressOf(host); });
    }

    // The port's thread, under the port's mutex.
    bool asked(const std::string& address) const { return asked_.count(address) != 0; }
    void deliver(Datagram datagram) {
        if (queue_.size() >= SharedUdpPort::kQueuedDatagrams) queue_.pop_front();
        queue_.push_back(std::move(datagram));
        arrived_.notify_all();
    }

  private:
    std::shared_ptr<SharedUdpPort::Impl> port_;
    // Under the port's mutex.
    bool joined_ = false;
    std::set<std::string> asked_;
    std::deque<Datagram> queue_;
    std::condition_variable arrived_;
};

}  // namespace

void SharedUdpPort::Impl::route(Datagram datagram) {
    std::lock_guard lock(mutex);
    std::vector<User*> askers;
    for (User* user : users)
        if (user->asked(datagram.address)) askers.push_back(user);
    if (askers.empty()) askers.assign(users.begin(), users.end());
    for (std::size_t i = 0; i < askers.size(); ++i) {
        askers[i]->deliver(i + 1 == askers.size() ? std::move(datagram) : datagram);
    }
}

void SharedUdpPort::Impl::loop() {
    for (;;) {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(mutex);
            if (!listening()) wake.wait(lock, [this] { return stop || !work.empty(); });
            if (stop) break;
            tasks.swap(work);
        }
        for (auto& task : tasks) task();
        bool wanted = false;
        {
            std::lock_guard lock(mutex);
            wanted = !users.empty();
        }
        // A socket layer may give up a socket on an error while it waits; its users still
        // expect their answers, so it is opened again on its port.
        if (wanted && socket && !socket->isBound()) socket->bind(localPort, true);
        if (!listening()) continue;
        std::optional<Datagram> datagram;
        try {
            datagram = socket->receive(kReceiveRound);
        } catch (const std::exception&) {
            // A receive error loses that datagram only.
        }
        if (datagram) route(std::move(*datagram));
    }
    // Whatever still waits learns the port is gone.
    std::deque<std::function<void()>> rest;
    {
        std::lock_guard lock(mutex);
        rest.swap(work);
    }
    for (auto& task : rest) task();
    socket.reset();
}

SharedUdpPort::SharedUdpPort(Factory factory) : impl_(std::make_shared<Impl>(std::move(factory))) {
    impl_->thread = std::thread([impl = impl_] { impl->loop(); });
}

SharedUdpPort::~SharedUdpPort() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
    }
    impl_->wake.notify_all();
    if (impl_->thread.joinable()) impl_->thread.join();
}

std::unique_ptr<UdpSocket> SharedUdpPort::open() {
    return std::make_unique<User>(impl_);
}

SharedUdpPort& SharedUdpPort::discovery() {
    static SharedUdpPort port([] { return std::make_unique<QtUdpSocket>(); });
    return port;
}

}  // namespace kv
