#pragma once

#include <algorithm>
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
