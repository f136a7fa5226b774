#pragma once

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "ZipMaker.h"

namespace kv::test {

// A pyftpdlib server on `address` (a free port) with the device's account, serving `home`
// as "/", in active mode with plain PORT only, like the device's server.
//
// With an intruder address, another host plays the one who is quicker than the device:
// for every PORT it connects to the named data port first from that address, sends a
// forged listing and counts what it receives (intruderReceived).
class FtpServerProcess {
  public:
    explicit FtpServerProcess(const std::filesystem::path& home,
                              const std::string& address = "127.0.0.1",
                              const std::string& intruder = "")
        : intruderLog_(home.parent_path() / "intruder.log") {
        const std::filesystem::path script = home.parent_path() / "ftpserver.py";
        writeAll(
            script,
            "import socket, sys, threading\n"
            "from pyftpdlib.authorizers import DummyAuthorizer\n"
            "from pyftpdlib.handlers import FTPHandler\n"
            "from pyftpdlib.servers import FTPServer\n"
            "home, address, intruder, log = sys.argv[1:5]\n"
            "auth = DummyAuthorizer()\n"
            "auth.add_user('root', 'Qm4t+zk7e', home, perm='elradfmwMT')\n"
            "def note(text):\n"
            "    with open(log, 'a') as f: f.write(text + '\\n')\n"
            "def drain(s):\n"
            "    n = 0\n"
            "    try:\n"
            "        while True:\n"
            "            data = s.recv(65536)\n"
            "            if not data: break\n"
            "            n += len(data)\n"
            "    except OSError: pass\n"
            "    note('received %d' % n)\n"
            "class Handler(FTPHandler):\n"
            "    def ftp_PASV(self, line): self.respond('502 Not here.')\n"
            "    def ftp_EPSV(self, line): self.respond('502 Not here.')\n"
            "    def ftp_EPRT(self, line): self.respond('502 Not here.')\n"
            "    def ftp_PORT(self, line):\n"
            "        if intruder:\n"
            "            f = line.split(',')\n"
            "            s = socket.create_connection(('.'.join(f[:4]),\n"
            "                int(f[4]) * 256 + int(f[5])), 5, (intruder, 0))\n"
            "            note('connected')\n"
            "            s.sendall(b'-rw-r--r-- 1 root root 6 Jan 01 00:00 forged.html\\r\\n')\n"
            "            threading.Thread(target=drain, args=(s,), daemon=True).start()\n"
            "        return FTPHandler.ftp_PORT(self, line)\n"
            "Handler.authorizer = auth\n"
            "server = FTPServer((address, 0), Handler)\n"
            "print(server.socket.getsockname()[1], flush=True)\n"
            "server.serve_forever()\n");
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            const std::string log = (home.parent_path() / "ftpserver.log").string();
            if (FILE* err = std::fopen(log.c_str(), "w")) ::dup2(::fileno(err), STDERR_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execl("/usr/bin/python3", "python3", script.c_str(), home.c_str(), address.c_str(),
                    intruder.c_str(), intruderLog_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* in = ::fdopen(out[0], "r");
        if (!in || std::fscanf(in, "%d", &port_) != 1) port_ = 0;
        if (in) std::fclose(in);
    }
    ~FtpServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }

    // Bytes the intruder received on each of its data connections, once every one of
    // them has been closed (waits up to 5 s for the last ones).
    std::vector<long> intruderReceived() const {
        std::vector<long> received;
        for (int wait = 0; wait < 50; ++wait) {
            received.clear();
            int connected = 0;
            std::ifstream in(intruderLog_);
            for (std::string line; std::getline(in, line);) {
                if (line == "connected") ++connected;
                if (line.rfind("received ", 0) == 0) received.push_back(std::stol(line.substr(9)));
            }
            if (static_cast<int>(received.size()) == connected) break;
            ::usleep(100000);
        }
        return received;
    }

  private:
    std::filesystem::path intruderLog_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace kv::test
