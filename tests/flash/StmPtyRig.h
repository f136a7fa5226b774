#pragma once

// A socat pty pair with the STM32 bootloader model (stm32_pty_peer) served on one end;
// the tool under test, or another host program, opens the other end.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/ports/Bytes.h"

extern char** environ;

namespace kv::test {

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Starts a program with stdout and stderr going to `output` (or /dev/null).
inline pid_t spawn(const std::vector<std::string>& argv, const std::string& output = "") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string sink = output.empty() ? "/dev/null" : output;
    posix_spawn_file_actions_addopen(&actions, 1, sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

// Exit code of the program, or -1 when it had to be killed after `limit`.
inline int runProgram(const std::vector<std::string>& argv, const std::string& output,
                      std::chrono::seconds limit = std::chrono::seconds(120)) {
    pid_t pid = spawn(argv, output);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool waitFor(const std::filesystem::path& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class StmPtyRig {
  public:
    struct Result {
        Bytes flash;
        std::map<std::string, long> stats;
    };

    static bool toolsPresent() { return onPath("socat"); }

    // `peerArgs` go to stm32_pty_peer after its --port/--dump/--stats/--ready options.
    StmPtyRig(const std::string& peerBinary, const std::filesystem::path& folder,
              const std::vector<std::string>& peerArgs = {})
        : folder_(folder) {
        std::filesystem::create_directories(folder_);
        const auto chipEnd = folder_ / "chip";
        socat_ = spawn({"socat", "pty,raw,echo=0,link=" + chipEnd.string(),
                        "pty,raw,echo=0,link=" + toolEnd()});
        if (!waitFor(chipEnd, std::chrono::seconds(5)) ||
            !waitFor(toolEnd(), std::chrono::seconds(5))) {
            throw std::runtime_error("socat made no pty pair");
        }
        std::vector<std::string> argv{peerBinary,
                                      "--port",
                                      chipEnd.string(),
                                      "--dump",
                                      (folder_ / "flash.bin").string(),
                                      "--stats",
                                      (folder_ / "stats.txt").string(),
                                      "--ready",
                                      (folder_ / "ready").string()};
        argv.insert(argv.end(), peerArgs.begin(), peerArgs.end());
        peer_ = spawn(argv, (folder_ / "peer.log").string());
        if (!waitFor(folder_ / "ready", std::chrono::seconds(5))) {
            throw std::runtime_error("the chip model did not come up: " +
                                     readText((folder_ / "peer.log").string()));
        }
    }

    ~StmPtyRig() {
        stopPeer();
        if (socat_ > 0) {
            ::kill(socat_, SIGTERM);
            ::waitpid(socat_, nullptr, 0);
        }
    }

    StmPtyRig(const StmPtyRig&) = delete;
    StmPtyRig& operator=(const StmPtyRig&) = delete;

    std::string toolEnd() const { return (folder_ / "tool").string(); }

    // Stops the model and returns its flash and counters.
    Result stop() {
        stopPeer();
        Result result;
        std::string flash = readText((folder_ / "flash.bin").string());
        result.flash.assign(flash.begin(), flash.end());
        std::stringstream stats(readText((folder_ / "stats.txt").string()));
        std::string key;
        long value = 0;
        while (stats >> key >> value) result.stats[key] = value;
        return result;
    }

  private:
    void stopPeer() {
        if (peer_ <= 0) return;
        ::kill(peer_, SIGTERM);
        ::waitpid(peer_, nullptr, 0);
        peer_ = -1;
    }

    std::filesystem::path folder_;
    pid_t socat_ = -1;
    pid_t peer_ = -1;
};

}  // namespace kv::test
