#pragma once

#include "Peers.h"

namespace kv::sim {

class PicBootloader;

// One TCP connection to a PicBootloader behind a listener: the device and its memory stay,
// the connection comes and goes.
class PicConnection : public StreamPeer {
  public:
    explicit PicConnection(PicBootloader& device);
    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override;
    bool closed() const override { return closed_; }

  private:
    PicBootloader& device_;
    bool closed_ = false;
};

}  // namespace kv::sim
