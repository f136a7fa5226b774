#pragma once

#include "IdentCard.h"
#include "PicBootloader.h"

namespace kv::sim {

// A plug-in card whose bootloader both answers the identification frame with the card's
// words and takes the programming commands, as the cards behind a panel's select codes
// do: the identification request is shorter than any bootloader command, so each half
// answers only the frames that are its own. Both halves hear the same line setting.
class PicCard : public StreamPeer {
  public:
    PicCard(IdentCard::Config ident, PicBootloader::Config bootloader);

    Bytes receive(ByteView data) override;
    // The device back in normal operation (its serial side no longer at the bootloader's
    // setting) restarts the card: from then on it reports the version its program memory
    // carries (FirmwareVersionTag.h), or the one it was configured with.
    void lineChanged(const LineSettings& line) override;

    IdentCard ident;
    PicBootloader bootloader;
    int restarts = 0;

  private:
    std::string configuredFirmware_;
};

}  // namespace kv::sim
