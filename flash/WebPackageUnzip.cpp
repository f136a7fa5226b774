#include "flash/WebPackageUnzip.h"

#include <Poco/Exception.h>
#include <Poco/Zip/ZipArchive.h>
#include <Poco/Zip/ZipStream.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "core/ports/ChannelError.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

// Archives made on Windows may use backslashes between folders.
std::string normalizedName(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

// The entry's path relative to the unpack folder, or empty when it would land outside.
fs::path safeRelativePath(const std::string& entryName) {
    const std::string name = normalizedName(entryName);
    if (name.empty() || name.front() == '/') return {};
    if (name.size() >= 2 && name[1] == ':') return {};  // drive letter
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    fs::path relative;
    for (const auto& part : parts) relative /= part;
    return relative;
}

bool isInside(const fs::path& folder, const fs::path& path) {
    auto f = folder.begin();
    auto p = path.begin();
    for (; f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // trailing separator of the folder
        if (p == path.end() || *f != *p) return false;
    }
    return true;
}

struct Entry {
    const Poco::Zip::ZipLocalFileHeader* header;
    fs::path target;
    fs::perms perms = fs::perms::unknown;
};

fs::perms storedPermissions(const Poco::Zip::ZipArchive& zip, const std::string& name) {
    for (auto it = zip.fileInfoBegin(); it != zip.fileInfoEnd(); ++it) {
        if (it->first != name) continue;
        if (it->second.getHostSystem() != Poco::Zip::ZipCommon::HS_UNIX) break;
        // External attributes sit at offset 38 of the central directory record; a Unix
        // archiver keeps the file mode in their upper half.
        const std::string record = it->second.createHeader();
        if (record.size() < 42) break;
        std::uint32_t external = 0;
        for (int i = 3; i >= 0; --i) {
            external = (external << 8) | static_cast<unsigned char>(record[38 + i]);
        }
        const auto mode = (external >> 16) & 0777;
        if (mode == 0) break;
        // Keep the owner able to replace the file when the next package comes.
        return static_cast<fs::perms>(mode) | fs::perms::owner_read | fs::perms::owner_write;
    }
    return fs::perms::unknown;
}

void extractFile(std::istream& in, const Entry& entry, const std::string& archive) {
    const auto& header = *entry.header;
    if (header.isEncrypted()) {
        throw KvError("Web package \"" + archive + "\": entry \"" + header.getFileName() +
                      "\" is encrypted");
    }
    fs::create_directories(entry.target.parent_path());
    // Written next to the target and renamed over it, so a read-only file already there
    // is replaced and a broken entry never leaves half a file in its place.
    fs::path temporary = entry.target;
    temporary += ".unzip-part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw KvError("Cannot write file \"" + temporary.string() + "\"");
        Poco::Zip::ZipInputStream data(in, header, true);
        out << data.rdbuf();
        out.flush();
        const bool complete =
            static_cast<std::uint64_t>(out.tellp()) == header.getUncompressedSize();
        if (!out || !complete || !data.crcValid()) {
            out.close();
            fs::remove(temporary);
            throw KvError("Web package \"" + archive + "\": entry \"" + header.getFileName() +
                          "\" is damaged");
        }
    }
    if (fs::is_directory(entry.target)) fs::remove_all(entry.target);
    fs::rename(temporary, entry.target);
    if (entry.perms != fs::perms::unknown) fs::permissions(entry.target, entry.perms);
}

}  // namespace

void UnzipWebPackage(const std::string& destination, const std::string& archive) {
    std::ifstream in(archive, std::ios::binary);
    if (!in) throw KvError("Cannot open web package \"" + archive + "\"");
    try {
        char magic[4] = {};
        in.read(magic, sizeof magic);
        if (in.gcount() != 4 || std::string(magic, 4) != std::string("PK\x03\x04", 4)) {
            throw KvError("Cannot unpack web package \"" + archive +
                          "\": not a ZIP archive or no entries");
        }
        in.seekg(0);
        Poco::Zip::ZipArchive zip(in);
        if (zip.headerBegin() == zip.headerEnd()) {
            throw KvError("Cannot unpack web package \"" + archive + "\": no entries");
        }

        fs::create_directories(destination);
        const fs::path root = fs::weakly_canonical(fs::absolute(destination));
        std::vector<Entry> entries;
        std::vector<fs::path> folders;
        for (auto it = zip.headerBegin(); it != zip.headerEnd(); ++it) {
            const fs::path relative = safeRelativePath(it->first);
            const fs::path target = (root / relative).lexically_normal();
            // Also catches a folder below the unpack folder that is a link to elsewhere.
            if (relative.empty() || !isInside(root, fs::weakly_canonical(target.parent_path()))) {
                throw KvError("Web package \"" + archive + "\" refused: entry \"" + it->first +
                              "\" points outside the unpack folder");
            }
            if (it->second.isDirectory()) {
                folders.push_back(target);
            } else {
                entries.push_back({&it->second, target, storedPermissions(zip, it->first)});
            }
        }

        for (const auto& folder : folders) fs::create_directories(folder);
        for (const auto& entry : entries) {
            in.clear();
            extractFile(in, entry, archive);
        }
    } catch (const KvError&) {
        throw;
    } catch (const Poco::Exception& e) {
        throw KvError("Cannot unpack web package \"" + archive + "\": " + e.displayText());
    } catch (const std::exception& e) {
        throw KvError("Cannot unpack web package \"" + archive + "\": " + e.what());
    }
}

}  // namespace kv
