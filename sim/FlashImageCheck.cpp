#include "FlashImageCheck.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <algorithm>
#include <cctype>

namespace kv::sim {

namespace {

const std::string kCommandStart = "(FLASH_IMAGE=";
const std::string kConfirmed = "UPGRADE WAS SUCCESFUL";
const std::string kMismatch = "UPGRADE FAILED: IMAGE CHECKSUM MISMATCH";
const std::string kNoImage = "UPGRADE FAILED: NO IMAGE";

Bytes line(const std::string& text) {
    return toBytes(text + "\r\n");
}

}  // namespace

std::string Md5UpperHex(ByteView bytes) {
    Poco::MD5Engine md5;
    md5.update(bytes.data(), bytes.size());
    std::string hex = Poco::DigestEngine::digestToHex(md5.digest());
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return hex;
}

std::optional<Bytes> FlashImageCheck::handleLine(const std::string& text) {
    if (text.rfind(kCommandStart, 0) != 0 || text.back() != ')') return std::nullopt;
    ++checks;
    lastDigest = text.substr(kCommandStart.size(), text.size() - kCommandStart.size() - 1);
    if (mode == Mode::Silent) return Bytes{};
    const auto image = receiver_.image(kSlot);
    if (!image) return line(kNoImage + "\n");
    if (mode == Mode::Refuse || Md5UpperHex(*image) != lastDigest) return line(kMismatch + "\n");
    flashed = image;
    return line(mode == Mode::NoLineFeed ? kConfirmed : kConfirmed + "\n");
}

Bytes FlashImageCheckPeer::receive(ByteView data) {
    pending_.append(data.begin(), data.end());
    Bytes out;
    for (std::size_t end; (end = pending_.find("\r\n")) != std::string::npos;) {
        const std::string text = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        if (auto reply = check_.handleLine(text))
            out.insert(out.end(), reply->begin(), reply->end());
    }
    return out;
}

}  // namespace kv::sim
