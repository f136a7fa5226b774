#include <gtest/gtest.h>

#include "FakeRig.h"
#include "ZipMaker.h"
#include "core/ports/ChannelError.h"
#include "flash/WebPackageUnzip.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::binaryBlob;
using test::makeZip;
using test::readAll;
using test::writeAll;

class WebPackageUnzipTest : public ::testing::Test {
  protected:
    fs::path dest() const { return rig.folder / "appdata" / "webpackage"; }
    fs::path zip(const std::string& name = "package.kvp") const { return rig.folder / name; }

    test::FakeRig rig;
};

TEST_F(WebPackageUnzipTest, StoredAndDeflatedEntriesLandInTheirFolders) {
    const std::string firmware = binaryBlob(70000);
    makeZip(zip(), {{"firmware.bin", firmware, false},
                    {"webcontent/", "", false},
                    {"webcontent/index.html", "<html>start</html>", true},
                    {"webcontent/js/app.js", std::string(5000, 'x') + "end", true},
                    {"webcontent/img/logo.png", binaryBlob(999), false},
                    {"webcontent/empty/", "", false},
                    {"webcontent/js/../style.css", "body{}", true}});
    UnzipWebPackage(dest().string(), zip().string());

    EXPECT_EQ(test::localTree(dest()),
              (std::vector<std::string>{"firmware.bin", "webcontent/", "webcontent/empty/",
                                        "webcontent/img/", "webcontent/img/logo.png",
                                        "webcontent/index.html", "webcontent/js/",
                                        "webcontent/js/app.js", "webcontent/style.css"}));
    EXPECT_EQ(readAll(dest() / "firmware.bin"), firmware);
    EXPECT_EQ(readAll(dest() / "webcontent/js/app.js"), std::string(5000, 'x') + "end");
    EXPECT_EQ(readAll(dest() / "webcontent/img/logo.png"), binaryBlob(999));
}

TEST_F(WebPackageUnzipTest, ReplacesReadOnlyFilesAndKeepsFilesTheArchiveLacks) {
    writeAll(dest() / "webcontent/index.html", "old");
    fs::permissions(dest() / "webcontent/index.html", fs::perms::owner_read);
    writeAll(dest() / "webcontent/stale.html", "from an earlier package");
    makeZip(zip(), {{"webcontent/index.html", "new", true},
                    {"webcontent/locked.html", "read only in the archive", true, 0100444}});

    UnzipWebPackage(dest().string(), zip().string());
    UnzipWebPackage(dest().string(), zip().string());  // read-only entries replaced again

    EXPECT_EQ(readAll(dest() / "webcontent/index.html"), "new");
    EXPECT_EQ(readAll(dest() / "webcontent/stale.html"), "from an earlier package");
    const auto perms = fs::status(dest() / "webcontent/locked.html").permissions();
    EXPECT_EQ(perms & fs::perms::others_write, fs::perms::none);
    EXPECT_NE(perms & fs::perms::group_read, fs::perms::none);
}

TEST_F(WebPackageUnzipTest, EntriesLeadingOutsideRefuseTheWholePackage) {
    const fs::path outside = rig.folder / "appdata";
    const std::vector<std::string> badNames = {"../evil.txt", "webcontent/../../evil.txt",
                                               "..\\evil.txt", (outside / "evil.txt").string(),
                                               "C:/evil.txt"};
    for (const auto& bad : badNames) {
        SCOPED_TRACE(bad);
        fs::remove_all(rig.folder / "appdata");
        makeZip(zip(), {{"webcontent/good.html", "good", true}, {bad, "evil", true}});
        try {
            UnzipWebPackage(dest().string(), zip().string());
            ADD_FAILURE() << "package accepted";
        } catch (const KvError& e) {
            EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(outside / "evil.txt"));
        EXPECT_FALSE(fs::exists(dest() / "webcontent/good.html")) << "nothing is unpacked";
    }
}

TEST_F(WebPackageUnzipTest, FolderLinkedElsewhereIsNotFollowed) {
    const fs::path elsewhere = rig.folder / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(dest());
    fs::create_directory_symlink(elsewhere, dest() / "webcontent");
    makeZip(zip(), {{"webcontent/index.html", "x", true}});

    EXPECT_THROW(UnzipWebPackage(dest().string(), zip().string()), KvError);
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(WebPackageUnzipTest, UnreadableArchivesFailWithTheirName) {
    auto failure = [&](const fs::path& archive) {
        try {
            UnzipWebPackage(dest().string(), archive.string());
        } catch (const KvError& e) {
            return std::string(e.what());
        }
        return std::string("no failure");
    };
    EXPECT_EQ(failure(zip("missing.kvp")),
              "Cannot open web package \"" + zip("missing.kvp").string() + "\"");

    writeAll(zip("garbage.kvp"), "this is not a zip archive at all, just text");
    EXPECT_NE(failure(zip("garbage.kvp")).find("garbage.kvp"), std::string::npos);

    makeZip(zip("whole.kvp"), {{"webcontent/a.html", std::string(3000, 'a'), false},
                               {"webcontent/b.html", binaryBlob(3000), false}});
    const std::string whole = readAll(zip("whole.kvp"));
    writeAll(zip("cut.kvp"), whole.substr(0, 4000));
    EXPECT_NE(failure(zip("cut.kvp")).find("cut.kvp"), std::string::npos);
    EXPECT_FALSE(fs::exists(dest() / "webcontent/b.html"));

    // A stored entry whose bytes changed after packing fails its CRC; the file already
    // unpacked from an earlier package stays whole.
    writeAll(dest() / "webcontent/index.html", "earlier");
    makeZip(zip(), {{"webcontent/index.html", "ABCDEFGHIJKLMNOP", false}});
    std::string bytes = readAll(zip());
    bytes[bytes.find("ABCDEFGH")] = 'Z';
    writeAll(zip(), bytes);
    EXPECT_NE(failure(zip()).find("webcontent/index.html"), std::string::npos);
    EXPECT_EQ(readAll(dest() / "webcontent/index.html"), "earlier");
}

}  // namespace
}  // namespace kv
