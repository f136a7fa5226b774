#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "NetworkNamespace.h"

namespace kv::bench {

// Benchmarks that serve kvsim's devices on 127.0.0.x (and broadcast to find them) run in
// a private network namespace: the program starts itself again under `unshare -rn` with
// lo brought up. Returns -1 when already inside one (carry on), else the exit status to
// end with (the exec failed, or it was tried once already: `marker` is set).
inline int RunInOwnNetworkNamespace(int argc, char** argv, const char* marker) {
    if (kv::test::InOwnNetworkNamespace()) return -1;
    if (std::getenv(marker)) {
        std::fprintf(stderr, "%s: no private network namespace\n", argv[0]);
        return 1;
    }
    setenv(marker, "1", 1);
    std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("-rn"),
                            const_cast<char*>("sh"), const_cast<char*>("-c"),
                            const_cast<char*>("ip link set lo up && exec \"$0\" \"$@\"")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("unshare");
    return 1;
}

}  // namespace kv::bench
