#pragma once

#include <net/if.h>

#include <string>

namespace kv::test {

// A namespace made by `unshare -n` holds the loopback interface and nothing else; tests
// that bind other loopback addresses or broadcast run only there.
inline bool InOwnNetworkNamespace() {
    struct if_nameindex* interfaces = ::if_nameindex();
    if (!interfaces) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
        if (std::string(i->if_name) != "lo") onlyLoopback = false;
    }
    ::if_freenameindex(interfaces);
    return onlyLoopback;
}

}  // namespace kv::test
