// One simulated matrix behind its network module, served on real sockets at the one
// address of a network namespace made for it (see DiscoveryNetns.sh):
//
//   discovery_module_host --address 10.77.0.2 --ready FILE
//
// Writes FILE once every port is open, then serves until SIGTERM. Refuses to run in the
// machine's own network namespace, since it answers broadcasts.
#include <atomic>
#include <csignal>
#include <fstream>
#include <iostream>
#include <string>

#include <QCoreApplication>
#include <QTimer>

#include <sys/stat.h>

#include "Scenario.h"
#include "World.h"
#include "server/WorldServer.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

bool inOwnNetworkNamespace() {
    struct stat self {};
    struct stat init {};
    if (::stat("/proc/self/ns/net", &self) != 0) return false;
    if (::stat("/proc/1/ns/net", &init) != 0) return true;
    return self.st_ino != init.st_ino;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string address;
    std::string ready;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--address") address = argv[i + 1];
        if (option == "--ready") ready = argv[i + 1];
    }
    if (address.empty() || ready.empty()) {
        std::cerr << "usage: discovery_module_host --address A.B.C.D --ready FILE\n";
        return 2;
    }
    if (!inOwnNetworkNamespace()) {
        std::cerr << "discovery_module_host: runs only in a network namespace of its own\n";
        return 1;
    }

    kv::sim::World world;
    kv::sim::DemoOptions options;
    options.addresses = {address};
    kv::sim::DemoDevices devices = kv::sim::buildDemoWorld(world, options);
    // Each host has its own serial number, so the tool's list shows which is which.
    const std::string host = address.substr(address.rfind('.') + 1);
    devices.controllers.at(0)->config.serial = "(S:KV10" + host + ")";

    kv::sim::WorldServer server(world);
    try {
        for (const std::string& line : server.serveAll()) std::cout << line << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "discovery_module_host: " << e.what() << std::endl;
        return 1;
    }
    std::ofstream(ready) << address << "\n";

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [] {
        if (stopRequested) QCoreApplication::quit();
    });
    watch.start(100);
    return app.exec();
}
