#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

#include "FakeRig.h"
#include "PocoFtpClient.h"
#include "ZipMaker.h"
#include "core/ports/ChannelError.h"
#include "flash/WebPackageUnzip.h"
#include "flash/WebPackageUpload.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using namespace std::chrono_literals;

// A pyftpdlib server on 127.0.0.1 with the device's account, serving `home` as "/".
class FtpServerProcess {
  public:
    explicit FtpServerProcess(const fs::path& home) {
        const fs::path script = home.parent_path() / "ftpserver.py";
        test::writeAll(script,
                       "import sys\n"
                       "from pyftpdlib.authorizers import DummyAuthorizer\n"
                       "from pyftpdlib.handlers import FTPHandler\n"
                       "from pyftpdlib.servers import FTPServer\n"
                       "auth = DummyAuthorizer()\n"
                       "auth.add_user('root', 'Qm4t+zk7e', sys.argv[1], perm='elradfmwMT')\n"
                       // Like the device's server: data connections in active mode
                       // with plain PORT only.
                       "class Handler(FTPHandler):\n"
                       "    def ftp_PASV(self, line): self.respond('502 Not here.')\n"
                       "    def ftp_EPSV(self, line): self.respond('502 Not here.')\n"
                       "    def ftp_EPRT(self, line): self.respond('502 Not here.')\n"
                       "Handler.authorizer = auth\n"
                       "server = FTPServer(('127.0.0.1', 0), Handler)\n"
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
            ::execl("/usr/bin/python3", "python3", script.c_str(), home.c_str(),
                    static_cast<char*>(nullptr));
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

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

class FtpRealServerTest : public ::testing::Test {
  protected:
    FtpRealServerTest() : server(makeHome()) { rig.ports.IdFTP1 = &ftp; }

    fs::path makeHome() {
        home = rig.folder / "ftproot";
        fs::create_directories(home / "mnt/flash/http");
        return home;
    }
    fs::path webRoot() const { return home / "mnt/flash/http"; }

    test::FakeRig rig;
    fs::path home;
    FtpServerProcess server;
    PocoFtpClient ftp;
};

TEST_F(FtpRealServerTest, PackageReplacesTheWebSiteOnTheServer) {
    ASSERT_NE(server.port(), 0) << "pyftpdlib did not start";
    test::writeAll(webRoot() / "extra/old.html", "operator page");
    test::writeAll(webRoot() / "old/deeper/f.js", "f");
    test::writeAll(webRoot() / "root.html", "r");

    const std::string logo = test::binaryBlob(20000);
    const fs::path package = rig.folder / "site.kvp";
    test::makeZip(package, {{"firmware.bin", "fw", false},
                            {"webcontent/index.html", "<html>\r\nnew\n</html>", true},
                            {"webcontent/img/logo.png", logo, false},
                            {"webcontent/js/a.js", "a", true},
                            {"webcontent/js/b.js", "b", true},
                            {"webcontent/extra/new.html", "new", true}});
    const fs::path appData = rig.folder / "appdata";
    UnzipWebPackage((appData / "webpackage").string(), package.string());

    FtpUploadWebContent(rig.ctx, "127.0.0.1", appData.string(), server.port());

    EXPECT_EQ(test::localTree(webRoot()),
              (Strings{"extra/", "extra/new.html", "img/", "img/logo.png", "index.html", "js/",
                       "js/a.js", "js/b.js"}));
    EXPECT_EQ(test::readAll(webRoot() / "img/logo.png"), logo) << "image transfers keep bytes";
    EXPECT_EQ(test::readAll(webRoot() / "index.html"), "<html>\r\nnew\n</html>");
    EXPECT_FALSE(ftp.isOpen());
    EXPECT_EQ(rig.ui.statusTexts.back(), "FTP Upload Done!");
}

TEST_F(FtpRealServerTest, ServerRefusalsCarryTheServerText) {
    ASSERT_NE(server.port(), 0) << "pyftpdlib did not start";
    try {
        ftp.open("127.0.0.1", server.port(), "root", "wrong", 5000ms);
        FAIL() << "login with a wrong password accepted";
    } catch (const ChannelError& e) {
        EXPECT_NE(std::string(e.what()).find("530"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(ftp.isOpen());

    ftp.open("127.0.0.1", server.port(), "root", "Qm4t+zk7e", 5000ms);
    ftp.changeDir("/mnt/flash/http");
    EXPECT_EQ(ftp.currentDir(), "/mnt/flash/http");
    test::writeAll(webRoot() / "full/x.txt", "x");
    EXPECT_THROW(ftp.removeDir("full"), ChannelError);
    EXPECT_THROW(ftp.changeDir("/missing"), ChannelError);
    ftp.close();
    EXPECT_FALSE(ftp.isOpen());
}

}  // namespace
}  // namespace kv
