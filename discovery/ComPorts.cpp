#include "discovery/ComPorts.h"

#include <exception>

#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"

namespace kv {

void ScanComPorts(Context& ctx) {
    SystemInfo* system = ctx.ports.System;
    if (!system) return;
    // The program's own port would look held by another program and be left out.
    if (ctx.ports.ComPort1) ClosePort(*ctx.ports.ComPort1);

    int n = 0;
    try {
        std::vector<std::string> candidates = system->serialPortCandidates();
        if (candidates.size() > static_cast<std::size_t>(kMaxComPorts)) {
            candidates.resize(kMaxComPorts);
        }
        for (const std::string& name : candidates) {
            ++n;
            try {
                if (!system->trySerialPort(name)) continue;
            } catch (const AccessDenied& e) {
                // Left out as a port that does not open; the log says why and what to do.
                ctx.log_line(e.what());
                continue;
            }
            ctx.state.comTree.push_back(name);
            TMatrixRec device;
            device.IP = name;
            ctx.state.DeviceList.push_back(std::move(device));
            // The read total time-out of ComPort1 is the channel's fixed 4000 ms.
            if (ctx.ports.ComPort1) ClosePort(*ctx.ports.ComPort1);
        }
    } catch (const std::exception&) {
        ctx.message_box("Com Port Error!(" + std::to_string(n) + ")");
    }
    ctx.showComTree();
}

}  // namespace kv
