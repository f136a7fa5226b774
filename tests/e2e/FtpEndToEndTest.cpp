// The web content upload over the program's real FTP client to a real FTP server on
// 127.0.0.2, with another host on 127.0.0.3 connecting to every data port first.
#include <gtest/gtest.h>

#include "../flash/FtpServerProcess.h"
#include "RealRig.h"
#include "flash/WebPackageUpload.h"

namespace kv {
namespace {

using Strings = std::vector<std::string>;

TEST(FtpEndToEnd, IntruderOnTheDataPortNeitherReadsTheUploadNorFeedsAListing) {
    test::RealRig rig;
    const auto home = rig.folder / "ftproot";
    const auto webRoot = home / "mnt/flash/http";
    test::writeAll(webRoot / "old/page.html", "old");
    test::writeAll(webRoot / "extra/mine.html", "operator page");
    const auto content = rig.folder / "appdata" / kWebPackageFolder / kWebContentFolder;
    const std::string logo = test::binaryBlob(70000);
    test::writeAll(content / "index.html", "<html>new</html>");
    test::writeAll(content / "img/logo.png", logo);

    test::FtpServerProcess server(home, "127.0.0.2", "127.0.0.3");
    ASSERT_NE(server.port(), 0) << "pyftpdlib did not start";
    FtpUploadWebContent(rig.ctx, "127.0.0.2", (rig.folder / "appdata").string(), server.port());

    EXPECT_EQ(test::localTree(webRoot), (Strings{"extra/", "img/", "img/logo.png", "index.html"}));
    EXPECT_EQ(test::readAll(webRoot / "img/logo.png"), logo);
    EXPECT_EQ(test::readAll(webRoot / "index.html"), "<html>new</html>");
    const auto received = server.intruderReceived();
    EXPECT_GE(received.size(), 4u) << "one try per LIST and STOR";
    EXPECT_EQ(received, std::vector<long>(received.size(), 0));
    EXPECT_EQ(rig.logLinesWith("Refused an FTP data connection from 127.0.0.3"), received.size());
}

}  // namespace
}  // namespace kv
