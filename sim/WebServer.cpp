#include "WebServer.h"

#include <memory>

namespace kv::sim {

namespace {

// A request head that never ends is dropped at this length.
constexpr std::size_t kMaxRequestHead = 8192;
const std::string kHeadEnd = "\r\n\r\n";

class HttpSession : public StreamPeer {
  public:
    explicit HttpSession(WebServer& server) : server_(server) {}

    Bytes receive(ByteView data) override {
        if (answered_) return {};
        pending_.append(data.begin(), data.end());
        const auto end = pending_.find(kHeadEnd);
        if (end == std::string::npos) {
            if (pending_.size() > kMaxRequestHead) pending_.clear();
            return {};
        }
        answered_ = true;
        const std::string reply = server_.answer(pending_.substr(0, end));
        return Bytes(reply.begin(), reply.end());
    }
    bool closed() const override { return answered_ && !server_.silent; }

  private:
    WebServer& server_;
    std::string pending_;
    bool answered_ = false;
};

}  // namespace

void WebServer::attach(World& world) {
    world.listenTcp(config.address, kPort, [this] { return std::make_unique<HttpSession>(*this); });
}

std::string WebServer::answer(const std::string& requestHead) {
    requests.push_back(requestHead);
    if (silent) return {};
    const std::string requestLine = requestHead.substr(0, requestHead.find("\r\n"));
    if (requestLine.rfind(std::string("GET ") + kVersionPath + " ", 0) == 0) {
        return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + config.contentVersion +
               "\r\n";
    }
    return "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nNot Found\r\n";
}

}  // namespace kv::sim
