#include <gtest/gtest.h>

#include "FakeRig.h"
#include "FtpServerProcess.h"
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
    test::FtpServerProcess server;
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
