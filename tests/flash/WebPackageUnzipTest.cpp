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
using test::withZip64Record;
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

// Entries whose names differ but land on one file, or a file where another entry needs a
// folder: the second could not be moved into place after the first was.
TEST_F(WebPackageUnzipTest, EntriesLandingOnOnePlaceRefuseTheWholePackage) {
    const std::vector<std::vector<test::ZipEntry>> clashes = {
        {{"webcontent/a.html", "one", true}, {"webcontent//a.html", "two", true}},
        {{"webcontent/a.html", "one", true}, {"webcontent\\a.html", "two", true}},
        {{"webcontent/./a.html", "one", true}, {"webcontent/a.html", "two", true}},
        {{"webcontent", "file", true}, {"webcontent/a.html", "two", true}},
        {{"webcontent/x", "file", true}, {"webcontent/x/", "", true}},
    };
    for (const auto& entries : clashes) {
        SCOPED_TRACE(entries.back().name);
        fs::remove_all(rig.folder / "appdata");
        fs::create_directories(dest());
        makeZip(zip(), entries);
        try {
            UnzipWebPackage(dest().string(), zip().string());
            ADD_FAILURE() << "package accepted";
        } catch (const KvError& e) {
            EXPECT_NE(std::string(e.what()).find("same place as another entry"), std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(fs::is_empty(dest())) << "nothing is unpacked";
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

// Packs deflated entries of zero bytes (name, size) without spelling the bytes out;
// `statedSize`, when set, replaces the size the headers of the first entry state.
void makeZeroZip(const fs::path& archive,
                 const std::vector<std::pair<std::string, std::size_t>>& entries,
                 std::uint32_t statedSize = 0) {
    const auto script = fs::path(archive).replace_extension(".py");
    {
        std::ofstream py(script);
        py << "import zipfile, struct, sys\n"
           << "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n";
        for (const auto& [name, size] : entries) {
            py << "z.writestr('" << name << "', bytes(" << size << "))\n";
        }
        py << "z.close()\n";
        if (statedSize) {
            py << "b = bytearray(open(sys.argv[1], 'rb').read())\n"
               << "for magic, at in ((b'PK\\x03\\x04', 22), (b'PK\\x01\\x02', 24)):\n"
               << "    i = b.find(magic) + at\n"
               << "    b[i:i + 4] = struct.pack('<I', " << statedSize << ")\n"
               << "open(sys.argv[1], 'wb').write(b)\n";
        }
    }
    const std::string command =
        "/usr/bin/python3 '" + script.string() + "' '" + archive.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    fs::remove(script);
}

void damageStoredEntry(const fs::path& archive) {
    std::string bytes = readAll(archive);
    bytes[bytes.find("ABCDEFGH")] = 'Z';
    writeAll(archive, bytes);
}

std::string unpackFailure(const fs::path& destination, const fs::path& archive) {
    try {
        UnzipWebPackage(destination.string(), archive.string());
    } catch (const KvError& e) {
        return e.what();
    }
    return "package accepted";
}

// A package that fails for its size or a damaged entry stops early and leaves the
// unpack folder as it was.
TEST_F(WebPackageUnzipTest, SizeBoundsStopTheUnpackAndLeaveNothingBehind) {
    writeAll(dest() / "webcontent/index.html", "earlier");
    const auto before = test::localTree(dest());

    // 200 MB of zeros whose headers claim 16 bytes: refused after those 16 bytes.
    makeZeroZip(zip(), {{"webcontent/new/bomb.bin", 200u << 20}}, 16);
    EXPECT_NE(unpackFailure(dest(), zip()).find("is larger than the archive states"),
              std::string::npos);
    EXPECT_EQ(test::localTree(dest()), before);

    // Honest entries that add up to more than the bound are refused before writing.
    makeZeroZip(zip(), {{"webcontent/new/a.bin", 33u << 20}, {"webcontent/new/b.bin", 33u << 20}});
    EXPECT_NE(unpackFailure(dest(), zip()).find("unpacks to more than 64 MiB"), std::string::npos);
    EXPECT_EQ(test::localTree(dest()), before);

    // A good entry before a damaged one is taken out again, with the folder it made.
    makeZip(zip(), {{"webcontent/new/good.html", "good", true},
                    {"webcontent/new/bad.html", "ABCDEFGHIJKLMNOP", false}});
    damageStoredEntry(zip());
    EXPECT_NE(unpackFailure(dest(), zip()).find("is damaged"), std::string::npos);
    EXPECT_EQ(test::localTree(dest()), before);
}

// The ZIP reader reserved whatever such a record claimed before reading it: 87 bytes
// claiming 32 GiB ran it out of memory. A claim beyond the file is refused up front.
TEST_F(WebPackageUnzipTest, Zip64EndRecordMayNotClaimMoreThanTheArchiveHolds) {
    makeZip(zip("plain.kvp"), {{"webcontent/index.html", "<html>", true}});
    const std::string plain = readAll(zip("plain.kvp"));
    const std::string honest = withZip64Record(plain, 10);
    const std::uint64_t left = honest.size() - (honest.find("PK\x06\x06") + 12);
    const std::string refusal = "its ZIP64 end of central directory record ";
    struct Case {
        std::uint64_t claim;  // 0: the record's honest size
        const char* outcome;  // what the failure holds, or "package accepted"
    } cases[] = {{0, "package accepted"},
                 {left, "Cannot unpack web package"},  // fits, but leaves no locator
                 {left + 1, "more than the archive holds"},
                 {3ull << 30, "more than the archive holds"},
                 {~0ull, "more than the archive holds"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.claim);
        fs::remove_all(dest());
        writeAll(zip(), withZip64Record(plain, 10, c.claim));
        const std::string outcome = unpackFailure(dest(), zip());
        EXPECT_NE(outcome.find(c.outcome), std::string::npos) << outcome;
        if (c.claim > left) {
            EXPECT_EQ(outcome, "Cannot unpack web package \"" + zip().string() + "\": " + refusal +
                                   "claims " + std::to_string(c.claim) +
                                   " bytes, more than the archive holds");
        }
        if (c.claim) {
            EXPECT_FALSE(fs::exists(dest()));
        } else {
            EXPECT_EQ(readAll(dest() / "webcontent/index.html"), "<html>");
        }
    }
    // Cut in its size field by the end of the file: the reader took the bytes it got.
    writeAll(zip(), honest.substr(0, honest.find("PK\x06\x06") + 8));
    EXPECT_EQ(unpackFailure(dest(), zip()),
              "Cannot unpack web package \"" + zip().string() + "\": " + refusal + "is cut short");
}

TEST_F(WebPackageUnzipTest, FailedFirstPackageLeavesNoUnpackFolder) {
    makeZip(zip(), {{"webcontent/a.html", "ABCDEFGHIJKLMNOP", false}});
    damageStoredEntry(zip());
    EXPECT_THROW(UnzipWebPackage(dest().string(), zip().string()), KvError);
    EXPECT_FALSE(fs::exists(dest()));
}

}  // namespace
}  // namespace kv
