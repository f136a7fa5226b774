#include "flash/WebPackageUnzip.h"

#include <Poco/Exception.h>
#include <Poco/Zip/ZipArchive.h>
#include <Poco/Zip/ZipStream.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
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

// What a package may unpack to in all; a module image is a small fraction of this.
constexpr std::uint64_t kMaxUnpackedBytes = 64ull * 1024 * 1024;

[[noreturn]] void refuse(const std::string& archive, const std::string& why) {
    throw KvError("Cannot unpack web package \"" + archive + "\": " + why);
}

// Reads the archive for the ZIP reader and stops it before it trusts a ZIP64 end of
// central directory record's size. The reader takes the record ("PK\6\6", then an
// 8-byte size) with a 4-byte read and an 8-byte read, and allocates the size before it
// reads the record's data, so a short file claiming gigabytes took that much memory
// twice over. A record cannot be larger than what follows it in the file, nor be cut
// short in its size field; otherwise the reader sees a size of zero and then the end of
// the file (it fails on its next read), and `refusal()` says why. Without a get area of
// its own, every read, putback and seek reaches the file buffer underneath just as the
// reader's own calls would.
class Zip64RecordGuard : public std::streambuf {
  public:
    bool open(const std::string& path) {
        std::error_code error;
        fileSize_ = fs::file_size(path, error);
        return !error && file_.open(path, std::ios::in | std::ios::binary) != nullptr;
    }
    // Why the archive was refused; empty while it was not.
    const std::string& refusal() const { return refusal_; }

  protected:
    std::streamsize xsgetn(char* s, std::streamsize n) override {
        if (!refusal_.empty()) return 0;
        const bool recordSize = n == 8 && afterRecordSignature_;
        const std::streamsize got = file_.sgetn(s, n);
        afterRecordSignature_ = n == 4 && got == 4 && std::memcmp(s, "PK\x06\x06", 4) == 0;
        if (recordSize) {
            // The reader takes a size field cut short by the end of the file as it came,
            // with zeros for the missing high bytes.
            std::uint64_t size = 0;
            for (auto i = got; i > 0; --i)
                size = (size << 8) | static_cast<unsigned char>(s[i - 1]);
            const auto at = file_.pubseekoff(0, std::ios::cur, std::ios::in);
            const auto after = at < 0 ? fileSize_ : static_cast<std::uint64_t>(at);
            if (got < 8 || size > fileSize_ - std::min(after, fileSize_)) {
                // The reader allocates whatever these bytes say, even after a short read.
                refusal_ =
                    got < 8 ? std::string("its ZIP64 end of central directory record is cut short")
                            : "its ZIP64 end of central directory record claims " +
                                  std::to_string(size) + " bytes, more than the archive holds";
                std::memset(s, 0, static_cast<std::size_t>(got));
                return 0;
            }
        }
        return got;
    }
    int_type underflow() override { return refusal_.empty() ? file_.sgetc() : traits_type::eof(); }
    int_type uflow() override {
        afterRecordSignature_ = false;
        return refusal_.empty() ? file_.sbumpc() : traits_type::eof();
    }
    int_type pbackfail(int_type c) override {
        afterRecordSignature_ = false;
        if (!refusal_.empty()) return traits_type::eof();
        return traits_type::eq_int_type(c, traits_type::eof())
                   ? file_.sungetc()
                   : file_.sputbackc(traits_type::to_char_type(c));
    }
    pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode which) override {
        if (off != 0 || dir != std::ios::cur) afterRecordSignature_ = false;
        if (!refusal_.empty()) return pos_type(off_type(-1));
        return file_.pubseekoff(off, dir, which);
    }
    pos_type seekpos(pos_type pos, std::ios::openmode which) override {
        afterRecordSignature_ = false;
        if (!refusal_.empty()) return pos_type(off_type(-1));
        return file_.pubseekpos(pos, which);
    }

  private:
    std::filebuf file_;
    std::uint64_t fileSize_ = 0;
    bool afterRecordSignature_ = false;
    std::string refusal_;
};

// What one unpack added to the folder, so a failed package can be taken out again.
struct Unpacked {
    std::vector<fs::path> createdFolders;  // parents before children
    std::vector<fs::path> partFiles;
};

void createFolders(const fs::path& folder, Unpacked& unpacked) {
    std::vector<fs::path> missing;
    for (fs::path f = folder; !f.empty() && !fs::exists(fs::symlink_status(f));
         f = f.parent_path()) {
        missing.push_back(f);
        if (f == f.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        fs::create_directory(*it);
        unpacked.createdFolders.push_back(*it);
    }
}

void removeUnpacked(const Unpacked& unpacked) {
    std::error_code ignored;
    for (const auto& part : unpacked.partFiles) fs::remove(part, ignored);
    for (auto it = unpacked.createdFolders.rbegin(); it != unpacked.createdFolders.rend(); ++it) {
        fs::remove(*it, ignored);  // only when empty: never what was there before
    }
}

[[noreturn]] void refuseClash(const std::string& archive, const std::string& entryName) {
    throw KvError("Web package \"" + archive + "\" refused: entry \"" + entryName +
                  "\" lands on the same place as another entry");
}

fs::path partFileOf(const fs::path& target) {
    fs::path part = target;
    part += ".unzip-part";
    return part;
}

// Writes the entry next to its target; the caller renames it into place once the whole
// package unpacked. Writing stops as soon as the entry grows beyond its stated size.
void extractFile(std::istream& in, const Entry& entry, const std::string& archive,
                 Unpacked& unpacked) {
    const auto& header = *entry.header;
    if (header.isEncrypted()) {
        throw KvError("Web package \"" + archive + "\": entry \"" + header.getFileName() +
                      "\" is encrypted");
    }
    createFolders(entry.target.parent_path(), unpacked);
    const fs::path part = partFileOf(entry.target);
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) throw KvError("Cannot write file \"" + part.string() + "\"");
    unpacked.partFiles.push_back(part);

    const std::uint64_t stated = header.getUncompressedSize();
    Poco::Zip::ZipInputStream data(in, header, true);
    constexpr std::size_t kChunk = 64 * 1024;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
    std::uint64_t written = 0;
    while (data) {
        data.read(buffer.get(), static_cast<std::streamsize>(kChunk));
        const auto got = static_cast<std::uint64_t>(data.gcount());
        if (got == 0) break;
        if (written + got > stated) {
            throw KvError("Web package \"" + archive + "\": entry \"" + header.getFileName() +
                          "\" is larger than the archive states");
        }
        out.write(buffer.get(), static_cast<std::streamsize>(got));
        written += got;
    }
    out.flush();
    if (!out || written != stated || !data.crcValid()) {
        throw KvError("Web package \"" + archive + "\": entry \"" + header.getFileName() +
                      "\" is damaged");
    }
}

// Moves every unpacked entry over its target: a read-only file already there is
// replaced, and a broken package never leaves half a file in its place.
void commit(const std::vector<Entry>& entries) {
    for (const auto& entry : entries) {
        if (fs::is_directory(entry.target)) fs::remove_all(entry.target);
        fs::rename(partFileOf(entry.target), entry.target);
        if (entry.perms != fs::perms::unknown) fs::permissions(entry.target, entry.perms);
    }
}

}  // namespace

void UnzipWebPackage(const std::string& destination, const std::string& archive) {
    Zip64RecordGuard file;
    if (!file.open(archive)) throw KvError("Cannot open web package \"" + archive + "\"");
    std::istream in(&file);
    Unpacked unpacked;
    try {
        char magic[4] = {};
        in.read(magic, sizeof magic);
        if (in.gcount() != 4 || std::string(magic, 4) != std::string("PK\x03\x04", 4)) {
            refuse(archive, "not a ZIP archive or no entries");
        }
        in.seekg(0);
        // A refused record makes the reader fail; the catches below give the reason.
        Poco::Zip::ZipArchive zip(in);
        if (!file.refusal().empty()) refuse(archive, file.refusal());
        if (zip.headerBegin() == zip.headerEnd()) refuse(archive, "no entries");

        createFolders(fs::absolute(destination), unpacked);
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

        // Two entries for one file ("a/b" and "a//b", or a file where another entry needs
        // a folder) would have the second move into place fail after the first one did.
        std::set<fs::path> files;
        for (const auto& entry : entries) {
            if (!files.insert(entry.target).second)
                refuseClash(archive, entry.header->getFileName());
        }
        auto belowAFile = [&](const fs::path& path) {
            for (fs::path up = path.parent_path(); up != root && isInside(root, up);
                 up = up.parent_path()) {
                if (files.count(up)) return true;
            }
            return false;
        };
        for (const auto& entry : entries) {
            if (belowAFile(entry.target)) refuseClash(archive, entry.header->getFileName());
        }
        for (const auto& folder : folders) {
            if (files.count(folder) || belowAFile(folder)) {
                refuseClash(archive, folder.lexically_relative(root).generic_string());
            }
        }

        std::uint64_t total = 0;
        for (const auto& entry : entries) {
            total += entry.header->getUncompressedSize();
            if (total > kMaxUnpackedBytes) {
                refuse(archive, "it unpacks to more than " +
                                    std::to_string(kMaxUnpackedBytes / (1024 * 1024)) + " MiB");
            }
        }

        for (const auto& folder : folders) createFolders(folder, unpacked);
        for (const auto& entry : entries) {
            in.clear();
            extractFile(in, entry, archive, unpacked);
        }
        commit(entries);
    } catch (const KvError&) {
        removeUnpacked(unpacked);
        throw;
    } catch (const Poco::Exception& e) {
        removeUnpacked(unpacked);
        refuse(archive, file.refusal().empty() ? e.displayText() : file.refusal());
    } catch (const std::exception& e) {
        removeUnpacked(unpacked);
        refuse(archive, file.refusal().empty() ? std::string(e.what()) : file.refusal());
    }
}

}  // namespace kv
