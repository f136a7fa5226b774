#include "PicCard.h"

#include "FirmwareVersionTag.h"

namespace kv::sim {

PicCard::PicCard(IdentCard::Config identConfig, PicBootloader::Config bootloaderConfig)
    : ident(std::move(identConfig)), bootloader(bootloaderConfig) {
    if (ident.config.words) configuredFirmware_ = ident.config.words->firmware;
}

Bytes PicCard::receive(ByteView data) {
    Bytes out = ident.receive(data);
    Bytes programming = bootloader.receive(data);
    out.insert(out.end(), programming.begin(), programming.end());
    return out;
}

void PicCard::lineChanged(const LineSettings& line) {
    ident.lineChanged(line);
    bootloader.lineChanged(line);
    if (line == bootloader.config().expectedLine || !ident.config.words) return;
    ++restarts;
    CardWords& words = *ident.config.words;
    words.firmware = VersionTagAt(bootloader.programMemory(), kCardVersionTagAddress)
                         .value_or(configuredFirmware_);
    ident.config.text = words.text();
}

}  // namespace kv::sim
