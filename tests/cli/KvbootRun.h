#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace kv::test {

// kvboot's whole command line run in this process: its exit status and both streams.
struct KvbootRun {
    int status = -1;
    std::string out;
    std::string err;
};

// `dataFolder`: where the device log files go (empty: the platform's own folder).
inline KvbootRun RunKvbootWith(std::vector<std::string> words, const std::string& dataFolder = "") {
    words.insert(words.begin(), "kvboot");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    std::ostringstream out, err;
    cli::Console console(out, err);
    console.platformDataFolder = dataFolder;
    KvbootRun run;
    run.status = cli::RunKvboot(static_cast<int>(argv.size()), argv.data(), console);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The file's SHA-256 as sha256sum prints it (a tool nobody here wrote); empty when it
// cannot be read.
inline std::string Sha256Sum(const std::string& path) {
    const std::string command = "sha256sum '" + path + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "";
    char digest[65] = {};
    const std::size_t got = std::fread(digest, 1, 64, pipe);
    ::pclose(pipe);
    return got == 64 ? std::string(digest, 64) : "";
}

}  // namespace kv::test
