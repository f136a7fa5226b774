// The web package unpack on any archive an operator may have downloaded. Each input is
// unpacked into a fresh folder (on tmpfs when there is one); afterwards the run's folder
// is walked: nothing may appear outside the unpack folder, no link anywhere, no leftover
// part file, nothing at all when the unpack failed, and never more than the size cap.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "FuzzCheck.h"
#include "core/ports/ChannelError.h"
#include "flash/WebPackageUnzip.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxUnpackedBytes = 64ull * 1024 * 1024;

// The folder the inputs unpack in, for this process; taken away when the run ends.
class BaseFolder {
  public:
    BaseFolder() {
        const fs::path shm = "/dev/shm";
        const fs::path parent = fs::is_directory(shm) ? shm : fs::temp_directory_path();
        path = parent / ("kvfuzz-unzip-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~BaseFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    BaseFolder(const BaseFolder&) = delete;
    BaseFolder& operator=(const BaseFolder&) = delete;

    fs::path path;
};

const fs::path& base() {
    static const BaseFolder folder;
    return folder.path;
}

bool startsWith(const fs::path& path, const fs::path& folder) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (p == path.end() || *p != *f) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path run = base() / "run";
    fs::remove_all(run);
    const fs::path archive = run / "package.zip";
    const fs::path destination = run / "unpack" / "web";
    fs::create_directories(destination);
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    bool unpacked = true;
    try {
        kv::UnzipWebPackage(destination.string(), archive.string());
    } catch (const kv::KvError& e) {
        unpacked = false;
        FUZZ_CHECK(std::string(e.what()).size() > 0);
    }

    const bool namesPartFiles =
        std::string(reinterpret_cast<const char*>(data), size).find(".unzip-part") !=
        std::string::npos;
    std::uintmax_t total = 0;
    std::size_t files = 0;
    for (auto it = fs::recursive_directory_iterator(run); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path& path = it->path();
        const fs::file_status status = it->symlink_status();
        if (path == archive || path == destination.parent_path() || path == destination) continue;
        // Only files and folders, only inside the unpack folder, nothing half-written.
        FUZZ_CHECK(startsWith(path, destination));
        FUZZ_CHECK(fs::is_regular_file(status) || fs::is_directory(status));
        // (unless the package names a file so itself)
        FUZZ_CHECK(namesPartFiles ||
                   path.filename().string().find(".unzip-part") == std::string::npos);
        if (fs::is_regular_file(status)) {
            total += fs::file_size(path);
            ++files;
        }
        // The unpack may leave folders the owner cannot enter; take them back for the walk.
        if (fs::is_directory(status)) {
            std::error_code ignored;
            fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    FUZZ_CHECK(fs::is_regular_file(archive) && fs::file_size(archive) == size);
    FUZZ_CHECK(total <= kMaxUnpackedBytes);
    // A failed package leaves nothing of itself.
    if (!unpacked) FUZZ_CHECK(fs::is_empty(destination) || !fs::exists(destination));
    if (unpacked) FUZZ_CHECK(files > 0 || fs::is_directory(destination));
    fs::remove_all(run);
    return 0;
}
