#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Peers.h"

namespace kv::sim {

// The network module's TFTP server (UDP 69), write transfers only: a write request
// names the image slot, data blocks of up to 512 bytes follow, a shorter block ends the
// image. Completed images are kept by slot name. Bind it to port 69 of the module's
// address in a World (or serve it from kvsim).
class TftpReceiver : public DatagramPeer {
  public:
    enum class Mode {
        Normal,
        DropFirstCopy,  // ignores the first copy of every packet, answers the repeat
        Silent,         // never answers
    };

    // Slots the module accepts; any other name is refused with a TFTP error packet.
    static const std::set<std::string>& slots();

    std::vector<Datagram> receive(const Datagram& fromTool) override;

    // The last completed image written to `slot`.
    std::optional<Bytes> image(const std::string& slot) const;

    // Told of every image as it completes (the module restarts on a new image).
    std::function<void(const std::string& slot, const Bytes& image)> imageTaken;

    Mode mode = Mode::Normal;
    // Answers at most this many datagrams, then goes silent (negative: no limit).
    int answerLimit = -1;

    // Counters.
    int requests = 0;
    int dataPackets = 0;  // data packets taken in (first copies dropped by the mode excluded)
    int duplicates = 0;   // repeats of the block just taken
    int outOfOrder = 0;
    int dropped = 0;  // ignored by the mode or the answer limit
    int answers = 0;
    int completed = 0;
    int refused = 0;
    std::vector<std::uint16_t> blockNumbers;  // block number of every data packet taken in
    std::vector<std::string> requestedNames;

  private:
    std::vector<Datagram> answer(const Datagram& to, Bytes packet);
    Bytes handle(const Bytes& packet);

    std::map<std::string, Bytes> images_;
    bool active_ = false;
    std::string slot_;
    Bytes buffer_;
    std::uint16_t lastBlock_ = 0;
    std::optional<Bytes> droppedCopy_;
};

}  // namespace kv::sim
