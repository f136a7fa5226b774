#include "core/LogFile.h"

#include <filesystem>
#include <system_error>

#include "core/ports/ChannelError.h"

namespace fs = std::filesystem;

namespace kv {

std::string LogFile::appDataFolder(const std::string& platformDataFolder) {
    return (fs::path(platformDataFolder) / "Korvandel" / "KV_bootloader_v3_3_2").generic_string();
}

bool LogFile::openFile(const std::string& path, bool append) {
    path_ = path;
    stream_.open(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    return stream_.is_open();
}

LogFile::OpenResult LogFile::open(const std::string& appDataFolder,
                                  const std::string& workingFolder,
                                  const std::string& fileName) {
    OpenResult result;
    std::error_code ec;
    bool append = false;
    std::string path;
    if (!fs::is_directory(appDataFolder, ec)) {
        result.message = kFallbackMessage;
        path = (fs::path(workingFolder) / fileName).generic_string();
    } else {
        path = (fs::path(appDataFolder) / fileName).generic_string();
        if (fs::exists(path, ec)) {
            std::uintmax_t kb = fs::file_size(path, ec) / 1024;
            if (!ec) {
                result.statusText = "Log file: " + std::to_string(kb) + " KB";
                append = kb <= kMaxAppendKb;
            }
        }
    }
    result.path = path;
    if (!openFile(path, append)) {
        result.error = "I/O error: cannot open " + path;
    }
    return result;
}

void LogFile::writeLine(const std::string& text) {
    if (!stream_.is_open()) return;  // the failed open was reported at start
    stream_ << text << "\r\n";
    stream_.flush();
    if (!stream_) {
        stream_.clear();
        throw KvError("I/O error: cannot write " + path_);
    }
}

void LogFile::close() {
    if (stream_.is_open()) stream_.close();
}

}  // namespace kv
