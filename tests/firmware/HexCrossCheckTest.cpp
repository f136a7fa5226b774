// The reader against files made by two independent Intel HEX tools (srecord and
// python3-intelhex): same bytes at the same addresses, same verdict on damaged files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "FakeRig.h"
#include "firmware/HexFile.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Image = std::map<std::uint32_t, std::uint8_t>;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kSrecCat = "/usr/bin/srec_cat";

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool toolsPresent() {
    return fs::exists(kSrecCat) && run(std::string(kPython) + " -c 'import intelhex'");
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Regions of test data: one in the first 64 KiB, one across the 64 KiB boundary, one high.
struct Region {
    std::uint32_t address;
    std::size_t size;
};
constexpr Region kRegions[] = {{0x0800, 0x230}, {0xFF40, 0x1C5}, {0x1F000, 0x100}};

class HexCrossCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!toolsPresent()) GTEST_SKIP() << "srec_cat or python3-intelhex missing";
        unsigned seed = 12345;
        for (std::size_t i = 0; i < std::size(kRegions); ++i) {
            std::string bytes;
            for (std::size_t k = 0; k < kRegions[i].size; ++k) {
                seed = seed * 1103515245u + 12345u;
                bytes.push_back(static_cast<char>(seed >> 16));
            }
            writeAll(dir() / ("r" + std::to_string(i) + ".bin"), bytes);
        }
        writeAll(dir() / "dump.py",
                 "import sys, intelhex\n"
                 "ih = intelhex.IntelHex(sys.argv[1])\n"
                 "for a in ih.addresses(): print(a, ih[a])\n");
        writeAll(
            dir() / "make.py",
            "import sys, intelhex\n"
            "ih = intelhex.IntelHex()\n"
            "for i, a in enumerate(" +
                regionList() +
                "):\n"
                "    ih.frombytes(open('%s/r%d.bin' % (sys.argv[1], i), 'rb').read(), offset=a)\n"
                "ih.start_addr = {'EIP': 0x1F000} if sys.argv[3] == 'linear' else {'CS': 0x1000, "
                "'IP': 0x20}\n"
                "ih.write_hex_file(sys.argv[2], byte_count=int(sys.argv[4]))\n");
    }

    fs::path dir() const { return rig.folder; }

    static std::string regionList() {
        std::string list = "[";
        for (const auto& r : kRegions) list += std::to_string(r.address) + ",";
        return list + "]";
    }

    // srec_cat: extra = "-obs=32", "--address-length=3" (segment records), start address...
    fs::path srec(const std::string& name, const std::string& extra) {
        std::string inputs;
        for (std::size_t i = 0; i < std::size(kRegions); ++i) {
            inputs += (dir() / ("r" + std::to_string(i) + ".bin")).string() + " -binary -offset " +
                      std::to_string(kRegions[i].address) + " ";
        }
        fs::path out = dir() / name;
        EXPECT_TRUE(
            run(std::string(kSrecCat) + " " + inputs + "-o " + out.string() + " -intel " + extra));
        return out;
    }

    fs::path intelhex(const std::string& name, const std::string& start, int recordSize) {
        fs::path out = dir() / name;
        EXPECT_TRUE(run(std::string(kPython) + " " + (dir() / "make.py").string() + " " +
                        dir().string() + " " + out.string() + " " + start + " " +
                        std::to_string(recordSize)));
        return out;
    }

    Image expected(const fs::path& file) {
        FILE* pipe = ::popen(
            (std::string(kPython) + " " + (dir() / "dump.py").string() + " " + file.string())
                .c_str(),
            "r");
        Image image;
        unsigned address, value;
        while (pipe && std::fscanf(pipe, "%u %u", &address, &value) == 2) {
            image[address] = static_cast<std::uint8_t>(value);
        }
        if (pipe) ::pclose(pipe);
        return image;
    }

    // What the programming pass is handed, placed at the full address.
    Image readBack(const fs::path& file, int* result = nullptr) {
        Image image;
        std::ifstream in(file, std::ios::binary);
        int r =
            ProcessHexFile(rig.ctx, reader, kHexProgrammingPass, in, [&](const HexDataRecord& rec) {
                std::uint32_t base = (static_cast<std::uint32_t>(rec.upper) << 16) + rec.address;
                for (std::size_t i = 0; i < rec.data.size(); ++i) {
                    image[base + static_cast<std::uint32_t>(i)] = rec.data[i];
                }
            });
        if (result) *result = r;
        return image;
    }

    bool checked(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return CheckHexFile(rig.ctx, reader, in);
    }

    test::FakeRig rig;
    HexReaderState reader;
};

std::string withoutEndRecord(std::string text) {
    auto pos = text.find(":00000001FF");
    return pos == std::string::npos ? text : text.substr(0, pos);
}

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
        out += c;
    }
    return out;
}

TEST_F(HexCrossCheck, SameBytesAtSameAddressesAsTheTools) {
    std::vector<fs::path> files{
        srec("s16.hex", "-obs=16"),
        srec("s32.hex", "-obs=32"),
        srec("seg.hex", "--address-length=3 -obs=32 -execution-start-address=0x1234"),
        srec("lin.hex", "-obs=16 -execution-start-address=0x1F000"),
        intelhex("p16.hex", "linear", 16),
        intelhex("p32.hex", "segment", 32),
    };
    std::size_t expectedSize = 0;
    for (const auto& r : kRegions) expectedSize += r.size;
    for (const auto& file : files) {
        std::string text = readAll(file);
        for (int variant = 0; variant < 3; ++variant) {
            fs::path f = dir() / ("v" + std::to_string(variant) + file.filename().string());
            writeAll(f, variant == 0   ? text
                        : variant == 1 ? withCrLf(text)
                                       : withoutEndRecord(text));
            Image tool = expected(f);
            ASSERT_EQ(tool.size(), expectedSize) << f;
            int result = -1;
            EXPECT_EQ(readBack(f, &result), tool) << f;
            EXPECT_EQ(result, 0) << f;
            EXPECT_TRUE(checked(f)) << f;
        }
    }
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(HexCrossCheck, SameVerdictOnDamagedFiles) {
    std::string text = readAll(srec("good.hex", "-obs=16"));
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) lines.push_back(line);
    ASSERT_GT(lines.size(), 6u);

    auto damage = [&](auto change) {
        std::vector<std::string> copy = lines;
        change(copy[5]);
        std::string out;
        for (const auto& l : copy) out += l + "\n";
        return out;
    };
    std::vector<std::string> damaged{
        damage([](std::string& l) { l.back() = l.back() == '0' ? '1' : '0'; }),
        damage([](std::string& l) { l.erase(12, 1); }),
        damage([](std::string& l) { l[14] = 'x'; }),
        damage([](std::string& l) { l += " "; }),
        damage([](std::string& l) { l.erase(0, 1); }),
        damage([](std::string& l) { l = ":00000006FA"; }),
        damage([](std::string& l) { l = ":00000004FC"; }),
    };
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        fs::path f = dir() / ("bad" + std::to_string(i) + ".hex");
        writeAll(f, damaged[i]);
        EXPECT_FALSE(
            run(std::string(kPython) + " " + (dir() / "dump.py").string() + " " + f.string()))
            << i;
        // srec_cat skips a line without its colon as junk between records and drops its data
        // without a word; the reader refuses such a file, as python3-intelhex does.
        if (i != 4) {
            EXPECT_FALSE(
                run(std::string(kSrecCat) + " " + f.string() + " -intel -o /dev/null -intel"))
                << i;
        }
        int result = 0;
        readBack(f, &result);
        EXPECT_EQ(result, 1) << i;
        EXPECT_EQ(rig.ui.dialogs.back().text, "Invalid checksum in record 6") << i;
        // The integrity check does not look at the value of an address record.
        EXPECT_EQ(checked(f), i == 6) << i;
    }
}

}  // namespace
}  // namespace kv
