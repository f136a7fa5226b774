#include "PocoFtpClient.h"

#include <Poco/Exception.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timespan.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <istream>
#include <set>

#include "core/ports/ChannelError.h"

namespace kv {

namespace {

[[noreturn]] void rethrow(const Poco::Exception& e) {
    // The server's reply text ("550 ...") is in the message; the class name adds nothing.
    throw ChannelError(e.message().empty() ? e.displayText() : e.message());
}

template <typename F>
auto guarded(F&& call) {
    try {
        return call();
    } catch (const Poco::Exception& e) {
        rethrow(e);
    }
}

// The library's active mode takes the first connection to the port named in PORT from
// any address; another host on the network could then read the upload or hand us a
// listing of its choosing. Here only the server's own address may connect: any other
// connection is closed (its host named in the log once per wait), and the wait goes on
// within the same time-out. What goes to the server (PORT, then the command) is unchanged.
class DeviceOnlyFtpSession : public Poco::Net::FTPClientSession {
  public:
    DeviceOnlyFtpSession(const Poco::Net::StreamSocket& control,
                         std::function<void(const std::string&)> refused)
        : FTPClientSession(control, true), refused_(std::move(refused)) {}

  protected:
    Poco::Net::StreamSocket establishDataConnection(const std::string& command,
                                                    const std::string& arg) override {
        using Poco::Net::FTPException;
        if (getPassive() || !_pControlSocket) {
            return FTPClientSession::establishDataConnection(command, arg);
        }
        const Poco::Net::IPAddress server = _pControlSocket->peerAddress().host();
        Poco::Net::ServerSocket listener(
            Poco::Net::SocketAddress(_pControlSocket->address().host(), 0));
        sendPortCommand(listener.address());
        std::string response;
        const int status = sendCommand(command, arg, response);
        if (!isPositivePreliminary(status))
            throw FTPException(command + " command failed", response);

        std::set<std::string> refusedHosts;  // named once per wait, however often they try
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::microseconds(getTimeout().totalMicroseconds());
        for (;;) {
            const auto left = std::max(std::chrono::microseconds(0),
                                       std::chrono::duration_cast<std::chrono::microseconds>(
                                           deadline - std::chrono::steady_clock::now()));
            if (!listener.poll(Poco::Timespan(left.count()), Poco::Net::Socket::SELECT_READ)) {
                throw FTPException("The server has not initiated a data connection");
            }
            Poco::Net::SocketAddress from;
            Poco::Net::StreamSocket connection = listener.acceptConnection(from);
            if (from.host() == server) return connection;
            connection.close();
            if (!refusedHosts.insert(from.host().toString()).second) continue;
            refused_("Refused an FTP data connection from " + from.toString() +
                     ", not the device " + server.toString());
        }
    }

  private:
    std::function<void(const std::string&)> refused_;
};

}  // namespace

PocoFtpClient::PocoFtpClient() = default;

PocoFtpClient::~PocoFtpClient() {
    try {
        close();
    } catch (const std::exception&) {
        // Closing at shutdown: nobody is left to tell.
    }
}

Poco::Net::FTPClientSession& PocoFtpClient::session() {
    if (!session_) throw ChannelError("Not connected.");
    return *session_;
}

void PocoFtpClient::open(const std::string& host, int port, const std::string& user,
                         const std::string& password, std::chrono::milliseconds timeout) {
    close();
    guarded([&] {
        const Poco::Timespan wait(
            std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
        // Connecting ourselves bounds the connect; the session's own time-out can only be
        // set once it is open.
        Poco::Net::StreamSocket socket;
        socket.connect(Poco::Net::SocketAddress(host, static_cast<Poco::UInt16>(port)), wait);
        socket.setReceiveTimeout(wait);
        auto session = std::make_unique<DeviceOnlyFtpSession>(
            socket, [this](const std::string& text) { logRefusal(text); });
        session->setTimeout(wait);
        session->setPassive(false, false);
        session->login(user, password);
        session->setFileType(Poco::Net::FTPClientSession::TYPE_BINARY);
        session_ = std::move(session);
    });
}

void PocoFtpClient::close() {
    if (!session_) return;
    auto session = std::move(session_);
    guarded([&] { session->close(); });
}

bool PocoFtpClient::isOpen() const {
    return session_ && session_->isOpen();
}

void PocoFtpClient::changeDir(const std::string& path) {
    guarded([&] { session().setWorkingDirectory(path); });
}

void PocoFtpClient::changeDirUp() {
    guarded([&] { session().cdup(); });
}

std::string PocoFtpClient::currentDir() {
    return guarded([&] { return session().getWorkingDirectory(); });
}

std::vector<std::string> PocoFtpClient::listDetailed() {
    return guarded([&] {
        std::vector<std::string> lines;
        std::istream& in = session().beginList("", true);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.push_back(line);
        }
        session().endList();
        return lines;
    });
}

void PocoFtpClient::makeDir(const std::string& name) {
    guarded([&] { session().createDirectory(name); });
}

void PocoFtpClient::removeDir(const std::string& name) {
    guarded([&] { session().removeDirectory(name); });
}

void PocoFtpClient::deleteFile(const std::string& name) {
    guarded([&] { session().remove(name); });
}

void PocoFtpClient::storeFile(const std::string& localPath, const std::string& remoteName) {
    std::ifstream in(localPath, std::ios::binary);
    if (!in) throw ChannelError("Cannot open file \"" + localPath + "\"");
    guarded([&] {
        std::ostream& out = session().beginUpload(remoteName);
        Poco::StreamCopier::copyStream(in, out);
        session().endUpload();
    });
}

}  // namespace kv
