// Runs only inside a private network namespace: the tests bind 127.0.0.x addresses and
// broadcast, which must never reach the machine's own network.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include <QCoreApplication>

#include <net/if.h>

namespace {
// A namespace made by `unshare -n` holds the loopback interface and nothing else.
bool inOwnNetworkNamespace() {
    struct if_nameindex* interfaces = ::if_nameindex();
    if (!interfaces) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
        if (std::string(i->if_name) != "lo") onlyLoopback = false;
    }
    ::if_freenameindex(interfaces);
    return onlyLoopback;
}
}  // namespace

int main(int argc, char** argv) {
    if (!inOwnNetworkNamespace()) {
        std::cerr << "Run this test in its own network namespace:\n"
                     "  unshare -rn sh -c 'ip link set lo up && exec "
                  << argv[0] << "'\n";
        return 1;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
