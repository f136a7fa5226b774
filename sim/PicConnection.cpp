#include "PicConnection.h"

#include "PicBootloader.h"

namespace kv::sim {

PicConnection::PicConnection(PicBootloader& device) : device_(device) {
    device_.connectionOpened();
}

Bytes PicConnection::receive(ByteView data) {
    if (closed_) return {};
    Bytes out = device_.receive(data);
    closed_ = device_.closed();
    return out;
}

void PicConnection::lineChanged(const LineSettings& line) {
    device_.lineChanged(line);
}

}  // namespace kv::sim
