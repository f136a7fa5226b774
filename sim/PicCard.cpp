#include "PicCard.h"

namespace kv::sim {

Bytes PicCard::receive(ByteView data) {
    Bytes out = ident.receive(data);
    Bytes programming = bootloader.receive(data);
    out.insert(out.end(), programming.begin(), programming.end());
    return out;
}

void PicCard::lineChanged(const LineSettings& line) {
    ident.lineChanged(line);
    bootloader.lineChanged(line);
}

}  // namespace kv::sim
