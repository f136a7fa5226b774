#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <unistd.h>

namespace kv::test {

// A fresh journal folder, removed with the object.
struct JournalFolder {
    std::filesystem::path path;

    JournalFolder() {
        static std::atomic<int> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("kvjournal-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~JournalFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    void write(const std::string& name, const std::string& content) const {
        std::ofstream(path / name, std::ios::binary) << content;
    }
    // Names of every file in the folder.
    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            names.insert(entry.path().filename().string());
        return names;
    }
};

}  // namespace kv::test
