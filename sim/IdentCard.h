#pragma once

#include <optional>
#include <string>

#include "CardFrame.h"
#include "Peers.h"
#include "PicFrameReader.h"

namespace kv::sim {

// The four words a card of the usual kind reports, in the order it sends them.
struct CardWords {
    std::string type;
    std::string hardware;    // "HW:..."
    std::string firmware;    // "FW:..."
    std::string bootloader;  // "BL:..."
    std::string text() const { return type + " " + hardware + " " + firmware + " " + bootloader; }
};

// A plug-in card on the device's internal serial bus that answers the identification
// frame with its one-line description ("<type> HW:<x> FW:<y> BL:<z>"). It hears the
// bus only at the setting its bootloader runs at.
class IdentCard : public StreamPeer {
  public:
    struct Config {
        std::string text = "RV-IN4 HW:1.0 FW:2.1.3 BL:1.0";
        LineSettings expectedLine{19200, Parity::None};
        // The words behind `text`, for cards made from them.
        std::optional<CardWords> words;
    };

    static Config configFor(const CardWords& words, LineSettings line) {
        return Config{words.text(), line, words};
    }

    IdentCard() : IdentCard(Config{}) {}
    explicit IdentCard(Config config) : config(std::move(config)) {}

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override { line_ = line; }
    bool hearing() const { return line_ == config.expectedLine; }

    Config config;
    bool silent = false;  // named failure mode: hears the request, never answers

    Bytes received;
    std::size_t garbledBytes = 0;
    int identRequests = 0;
    int otherFrames = 0;

  private:
    LineSettings line_{9600, Parity::None};
    PicFrameReader frames_;
};

}  // namespace kv::sim
