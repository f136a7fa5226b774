#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace kv {

// The log file "logfile.txt": 8-bit text lines ending in CR LF. Every line is
// flushed at once, so the log keeps its tail when the program dies.
class LogFile {
  public:
    static constexpr std::uintmax_t kMaxAppendKb = 5000;
    static constexpr const char* kFileName = "logfile.txt";
    static constexpr const char* kFallbackMessage =
        "Cannot find applicaton data directory!\r\nLogfile was created to installation directory";

    struct OpenResult {
        std::string path;
        // "Log file: N KB" when an existing log was found, else empty.
        std::string statusText;
        // The fallback message to show when the application data folder is missing.
        std::optional<std::string> message;
        // Text of the input/output error when the file could not be opened.
        std::optional<std::string> error;
    };

    // The folder for the log: platform data folder + Korvandel/KV_bootloader_v3_3_2.
    static std::string appDataFolder(const std::string& platformDataFolder);

    // Opens the log under the application data folder, or "logfile.txt" in the working
    // folder when the application data folder does not exist.
    // `fileName` names the file in that folder (kvboot gives each device a log of its own).
    OpenResult open(const std::string& appDataFolder, const std::string& workingFolder,
                    const std::string& fileName = kFileName);

    // Appends one line. Throws KvError when the write fails.
    void writeLine(const std::string& text);
    void close();
    bool isOpen() const { return stream_.is_open(); }
    const std::string& path() const { return path_; }

  private:
    bool openFile(const std::string& path, bool append);

    std::ofstream stream_;
    std::string path_;
};

}  // namespace kv
