#include "RealRig.h"

#include <unistd.h>

#include <fstream>

namespace kv::test {

RealRig::RealRig()
    : folder(std::filesystem::temp_directory_path() /
             ("kve2e-" + std::to_string(::getpid()) + "-" +
              std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
    std::filesystem::create_directories(folder);
    state.DebugSwitch = "ON";
    log.open(folder.string(), folder.string());
    platform.setLogSink([this](const std::string& w) { warnings.push_back(w); });
}

RealRig::~RealRig() {
    log.close();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

std::size_t RealRig::logLinesWith(const std::string& text) const {
    std::ifstream in(log.path(), std::ios::binary);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
    return count;
}

}  // namespace kv::test
