#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv::test {

// Builds ZIP archives with Python's zipfile, an independent writer of the format.
struct ZipEntry {
    std::string name;  // a name ending in "/" is a folder entry
    std::string content;
    bool deflate = true;
    unsigned mode = 0;  // Unix file mode stored in the entry, 0 = none
};

inline std::string hexOf(const std::string& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

inline void makeZip(const std::filesystem::path& zip, const std::vector<ZipEntry>& entries) {
    const auto script = std::filesystem::path(zip).replace_extension(".py");
    {
        std::ofstream py(script);
        py << "import zipfile, sys\n"
           << "z = zipfile.ZipFile(sys.argv[1], 'w')\n";
        for (const auto& e : entries) {
            py << "i = zipfile.ZipInfo(bytes.fromhex('" << hexOf(e.name) << "').decode())\n"
               << "i.compress_type = zipfile." << (e.deflate ? "ZIP_DEFLATED" : "ZIP_STORED")
               << "\n";
            if (e.mode) py << "i.external_attr = " << e.mode << " << 16\n";
            py << "z.writestr(i, bytes.fromhex('" << hexOf(e.content) << "'))\n";
        }
        py << "z.close()\n";
    }
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + zip.string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("zipfile failed: " + command);
    std::filesystem::remove(script);
}

// Puts a ZIP64 end of central directory record (with `extensible` bytes of its own)
// and its locator in front of the archive's end record, as an archiver does for a large
// archive. `claimedSize` replaces the record's honest size field when set.
inline std::string withZip64Record(const std::string& archive, std::size_t extensible,
                                   std::uint64_t claimedSize = 0) {
    auto le = [](std::uint64_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    const std::size_t end = archive.rfind("PK\x05\x06");
    auto field = [&](std::size_t at, int bytes) {  // of the end record
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(archive[end + at + i]);
        return value;
    };
    const std::uint64_t entries = field(10, 2);
    const std::uint64_t directorySize = field(12, 4);
    const std::uint64_t directoryAt = field(16, 4);
    const std::string record =
        std::string("PK\x06\x06", 4) + le(claimedSize ? claimedSize : 44 + extensible, 8) +
        le(45, 2) + le(45, 2) + le(0, 4) + le(0, 4) + le(entries, 8) + le(entries, 8) +
        le(directorySize, 8) + le(directoryAt, 8) + std::string(extensible, 'x');
    const std::string locator = std::string("PK\x06\x07", 4) + le(0, 4) + le(end, 8) + le(1, 4);
    return archive.substr(0, end) + record + locator + archive.substr(end);
}

inline std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::filesystem::path& file, const std::string& content) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

// Every file and folder below `root` as relative paths, folders ending in "/", sorted.
inline std::vector<std::string> localTree(const std::filesystem::path& root) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        auto rel = std::filesystem::relative(e.path(), root).generic_string();
        out.push_back(e.is_directory() ? rel + "/" : rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline std::string binaryBlob(std::size_t size) {
    std::string blob(size, '\0');
    for (std::size_t i = 0; i < size; ++i) blob[i] = static_cast<char>((i * 131 + 7) % 256);
    return blob;
}

}  // namespace kv::test
