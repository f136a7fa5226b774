#include <gtest/gtest.h>

#include "FakeFtpClient.h"
#include "FakeRig.h"
#include "ZipMaker.h"
#include "core/ports/ChannelError.h"
#include "flash/WebPackageFtpListing.h"
#include "flash/WebPackageUnzip.h"
#include "flash/WebPackageUpload.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::writeAll;

constexpr const char* kDevice = "127.0.0.50";

class WebPackageUploadTest : public ::testing::Test {
  protected:
    WebPackageUploadTest() {
        rig.ports.IdFTP1 = &ftp;
        ftp.addFolder("/mnt/flash/http");
    }

    fs::path appData() const { return rig.folder / "appdata"; }
    fs::path content() const { return appData() / "webpackage" / "webcontent"; }
    void upload() { FtpUploadWebContent(rig.ctx, kDevice, appData().string()); }

    // Commands from the first one with the given text on.
    Strings commandsFrom(const std::string& first) const {
        auto it = std::find(ftp.commands.begin(), ftp.commands.end(), first);
        return Strings(it, ftp.commands.end());
    }
    std::size_t indexOf(const std::string& command) const {
        return static_cast<std::size_t>(
            std::find(ftp.commands.begin(), ftp.commands.end(), command) - ftp.commands.begin());
    }

    test::FakeRig rig;
    test::FakeFtpClient ftp;
};

TEST(FtpListing, UnixAndDosLinesGiveNameAndKind) {
    using E = FtpListEntry;
    EXPECT_EQ(ParseFtpListLine("drwxr-xr-x   2 root     root         4096 Jan 01 12:00 js"),
              (E{"js", true}));
    EXPECT_EQ(
        ParseFtpListLine("-rw-r--r--    1 0        0             1234 Dec 31  2023 a b.html\r"),
        (E{"a b.html", false}));
    EXPECT_EQ(ParseFtpListLine("-rw-r--r-- 1 root 77 Mar  3 09:15 nogroup.txt"),
              (E{"nogroup.txt", false}));
    EXPECT_EQ(ParseFtpListLine("lrwxrwxrwx 1 root root 7 Jan 1 00:00 link -> target"),
              (E{"link", false}));
    EXPECT_EQ(ParseFtpListLine("01-02-24  10:00AM       <DIR>          images"),
              (E{"images", true}));
    EXPECT_EQ(ParseFtpListLine("01-02-24  10:00AM                  512 x.js"), (E{"x.js", false}));
    for (const char* none :
         {"total 8", "", "  ", "drwxr-xr-x 2 root root 0 Jan 01 12:00 .",
          "drwxr-xr-x 2 root root 0 Jan 01 12:00 ..",
          // Names that lead back up or elsewhere.
          "drwxr-xr-x 2 root root 0 Jan 01 12:00 ./", "drwxr-xr-x 2 root root 0 Jan 01 12:00 ../",
          "drwxr-xr-x 2 root root 0 Jan 01 12:00 js/",
          "-rw-r--r-- 1 root root 7 Jan 01 12:00 ../../etc/passwd",
          "01-02-24  10:00AM       <DIR>          ./"}) {
        EXPECT_FALSE(ParseFtpListLine(none)) << none;
    }
}

TEST_F(WebPackageUploadTest, FileThenSubfolderGoInThisOrder) {
    writeAll(content() / "index.html", "index");
    writeAll(content() / "js" / "a.js", "a");
    writeAll(content() / "js" / "b.js", "b");
    upload();

    EXPECT_EQ(ftp.commands,
              (Strings{"USER root", "PASS Qm4t+zk7e", "CWD /mnt/flash/http", "LIST", "CDUP",
                       "CWD /mnt/flash/http", "STOR index.html", "LIST", "MKD js", "CWD js",
                       "STOR a.js", "STOR b.js", "CDUP", "QUIT"}));
    EXPECT_EQ(ftp.host, kDevice);
    EXPECT_EQ(ftp.port, 21);
    EXPECT_EQ(ftp.treeBelow("/mnt/flash/http"),
              (Strings{"index.html", "js/", "js/a.js", "js/b.js"}));
    EXPECT_EQ(ftp.files["/mnt/flash/http/js/b.js"], "b");

    EXPECT_EQ(rig.ui.statusTexts, (Strings{"PUT: index.html", "MKDIR: js", "PUT: a.js", "PUT: b.js",
                                           "FTP Upload Done!"}));
    std::vector<int> progress;
    for (const auto& [position, maximum] : rig.ui.progressValues) progress.push_back(position);
    EXPECT_EQ(progress, (std::vector<int>{0, 1, 0, 1, 2, 100})) << "files counted per folder";
}

TEST_F(WebPackageUploadTest, WebRootAndExtraAreEmptiedDepthFirstButKept) {
    ftp.addFile("/mnt/flash/http/extra/old.html", "operator page");
    ftp.addFile("/mnt/flash/http/old/deeper/f.js", "f");
    ftp.addFile("/mnt/flash/http/root.html", "r");
    writeAll(content() / "extra" / "new.html", "new");
    writeAll(content() / "index.html", "index");
    upload();

    const std::string root = "/mnt/flash/http";
    EXPECT_EQ(ftp.commands,
              (Strings{"USER root", "PASS Qm4t+zk7e",
                       // clearing
                       "CWD " + root, "LIST", "PWD", "CWD " + root + "/extra", "LIST", "PWD",
                       "DELE " + root + "/extra/old.html", "CDUP", "PWD", "CWD " + root + "/old",
                       "LIST", "PWD", "CWD " + root + "/old/deeper", "LIST", "PWD",
                       "DELE " + root + "/old/deeper/f.js", "CDUP", "RMD " + root + "/old/deeper",
                       "CDUP", "RMD " + root + "/old", "PWD", "DELE " + root + "/root.html", "CDUP",
                       // upload: "extra" is there already
                       "CWD " + root, "LIST", "CWD extra", "STOR new.html", "CDUP",
                       "STOR index.html", "QUIT"}));
    EXPECT_EQ(ftp.treeBelow(root), (Strings{"extra/", "extra/new.html", "index.html"}));
}

// A device whose every folder lists a subfolder of the same name, as a folder loop
// (a link to a parent) on its flash would.
class LoopingFtp : public test::FakeFtpClient {
  public:
    void changeDir(const std::string& path) override {
        commands.push_back("CWD " + path);
        cwd_ = path;
    }
    void changeDirUp() override { commands.push_back("CDUP"); }
    std::string currentDir() override { return cwd_; }
    std::vector<std::string> listDetailed() override {
        commands.push_back("LIST");
        return {"drwxr-xr-x 2 root root 0 Jan 01 12:00 loop"};
    }

  private:
    std::string cwd_ = "/";
};

TEST_F(WebPackageUploadTest, FolderLoopOnTheDeviceFailsTheUploadAtTheDepthLimit) {
    writeAll(content() / "index.html", "index");
    LoopingFtp looping;
    rig.ports.IdFTP1 = &looping;
    try {
        upload();
        FAIL() << "a folder loop must fail the upload";
    } catch (const KvError& e) {
        EXPECT_NE(std::string(e.what()).find("nested more than 8 levels deep"), std::string::npos)
            << e.what();
    }
    const auto lists = std::count(looping.commands.begin(), looping.commands.end(), "LIST");
    EXPECT_EQ(lists, kMaxWebFolderDepth + 1);
    EXPECT_EQ(std::count(looping.commands.begin(), looping.commands.end(), "STOR index.html"), 0);
}

TEST_F(WebPackageUploadTest, TrailingSeparatorOfTheDataFolderChangesNothing) {
    writeAll(content() / "index.html", "index");
    writeAll(content() / "css" / "site.css", "css");
    upload();
    const Strings withoutSeparator = ftp.commands;

    test::FakeFtpClient second;
    second.addFolder("/mnt/flash/http");
    rig.ports.IdFTP1 = &second;
    FtpUploadWebContent(rig.ctx, kDevice, appData().string() + "/");

    EXPECT_EQ(second.commands, withoutSeparator);
    EXPECT_EQ(second.files, ftp.files);
}

TEST_F(WebPackageUploadTest, MissingWebContentLeavesTheDeviceUntouched) {
    ftp.addFile("/mnt/flash/http/index.html", "live site");
    writeAll(appData() / "webpackage" / "firmware.bin", "fw");
    EXPECT_THROW(upload(), KvError);
    EXPECT_TRUE(ftp.commands.empty());
    EXPECT_TRUE(ftp.hasFile("/mnt/flash/http/index.html"));
}

TEST_F(WebPackageUploadTest, RefusedCommandEndsTheUploadAndClosesTheSession) {
    writeAll(content() / "a.html", "a");
    writeAll(content() / "b.html", "b");
    writeAll(content() / "c.html", "c");
    ftp.refuse = "STOR b.html";
    try {
        upload();
        FAIL() << "upload went on";
    } catch (const ChannelError& e) {
        EXPECT_EQ(std::string(e.what()), "550 Refused");
    }
    EXPECT_EQ(ftp.commands.back(), "QUIT");
    EXPECT_FALSE(ftp.isOpen());
    EXPECT_EQ(indexOf("STOR c.html"), ftp.commands.size());
    EXPECT_TRUE(std::find(rig.ui.statusTexts.begin(), rig.ui.statusTexts.end(),
                          "FTP Upload Done!") == rig.ui.statusTexts.end());
}

TEST_F(WebPackageUploadTest, StaleFileOfAnEarlierPackageIsUploadedAgain) {
    const fs::path first = rig.folder / "first.kvp";
    const fs::path second = rig.folder / "second.kvp";
    test::makeZip(first, {{"firmware.bin", "fw1", false},
                          {"webcontent/index.html", "v1", true},
                          {"webcontent/old.html", "only in the first", true}});
    test::makeZip(second, {{"firmware.bin", "fw2", false}, {"webcontent/index.html", "v2", true}});
    const std::string unpackFolder = (appData() / "webpackage").string();

    UnzipWebPackage(unpackFolder, first.string());
    upload();
    UnzipWebPackage(unpackFolder, second.string());
    upload();

    EXPECT_EQ(ftp.treeBelow("/mnt/flash/http"), (Strings{"index.html", "old.html"}));
    EXPECT_EQ(ftp.files["/mnt/flash/http/index.html"], "v2");
}

}  // namespace
}  // namespace kv
