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
    PicCard(IdentCard::Config ident, PicBootloader::Config bootloader)
        : ident(std::move(ident)), bootloader(bootloader) {}

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override;

    IdentCard ident;
    PicBootloader bootloader;
};

}  // namespace kv::sim
