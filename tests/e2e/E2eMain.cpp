// Runs only inside a private network namespace: the tests bind 127.0.0.x addresses and
// broadcast, which must never reach the machine's own network.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include <QCoreApplication>


#include "../fakes/NetworkNamespace.h"

int main(int argc, char** argv) {
    if (!kv::test::InOwnNetworkNamespace()) {
        std::cerr << "Run this test in its own network namespace:\n"
                     "  unshare -rn sh -c 'ip link set lo up && exec "
                  << argv[0] << "'\n";
        return 1;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
