#pragma once

#include <optional>
#include <string>

#include "Peers.h"
#include "TftpReceiver.h"

namespace kv::sim {

// The device's check of a firmware image that came in by TFTP into "/var/firmware.img":
// the tool sends "(FLASH_IMAGE=<MD5 in upper-case hex>)" over the tunnel; the device
// compares it with the digest of the image it holds and, when they agree, flashes the
// image and answers "UPGRADE WAS SUCCESFUL" followed by a line feed and CR LF.
// A text device model can hand its lines to handleLine(); FlashImageCheckPeer serves
// the check alone on a tunnel connection.
class FlashImageCheck {
  public:
    enum class Mode {
        Normal,
        Silent,      // never answers the check
        NoLineFeed,  // answers the success text without its line feed
        Refuse,      // the device does not take the image (answers as for a wrong digest)
    };

    static constexpr const char* kSlot = "/var/firmware.img";

    explicit FlashImageCheck(const TftpReceiver& receiver) : receiver_(receiver) {}

    // The reply to one line (without CR LF): nullopt when the line is not a flash image
    // check; empty bytes when the device stays silent.
    std::optional<Bytes> handleLine(const std::string& line);

    Mode mode = Mode::Normal;
    int checks = 0;
    std::string lastDigest;        // the digest the tool sent last
    std::optional<Bytes> flashed;  // the image flashed by the last successful check

  private:
    const TftpReceiver& receiver_;
};

// One tunnel connection to a device that only understands the flash image check.
class FlashImageCheckPeer : public StreamPeer {
  public:
    explicit FlashImageCheckPeer(FlashImageCheck& check) : check_(check) {}
    Bytes receive(ByteView data) override;

  private:
    FlashImageCheck& check_;
    std::string pending_;
};

// MD5 digest (RFC 1321) of the bytes as 32 upper-case hexadecimal digits.
std::string Md5UpperHex(ByteView bytes);

}  // namespace kv::sim
