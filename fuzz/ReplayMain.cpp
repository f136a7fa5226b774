// Without the fuzzing engine a target is a plain program that runs every file of the
// corpus folders (or single files) it is given once; CTest runs it over the seed corpus.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzCheck.h"

namespace fs = std::filesystem;

namespace {

void runFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        if (fs::is_directory(path)) {
            for (const auto& entry : fs::recursive_directory_iterator(path)) {
                if (!entry.is_regular_file()) continue;
                runFile(entry.path());
                ++inputs;
            }
        } else if (fs::is_regular_file(path)) {
            runFile(path);
            ++inputs;
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    // The empty input is always part of the replay.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("%d inputs replayed without a finding\n", inputs + 1);
    return inputs > 0 ? 0 : 2;
}
