#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CardFrame.h"
#include "Peers.h"
#include "PicFrameReader.h"

namespace kv::sim {

// A device's main controller speaking the text command protocol: commands in curly
// braces (or the parenthesised flash image check), replies as lines ending in CR LF.
// It hears the line only at the setting it expects; anything sent at another setting is
// garbage to it and goes unanswered. Optionally it also answers the card identification
// frame, as the controller of a single-card device does.
class TextDevice : public StreamPeer {
  public:
    struct Config {
        std::string ident = "(I:RV-FS64S)";
        std::string serial = "(S:KV0012345)";
        std::string firmware = "(FW:3.1.2)";
        std::string protocol = "(Current protocol#1)";
        // Three lines: a header, then the web content and the web server versions.
        std::vector<std::string> lanVersion{"(LAN_VER)", "(WEB=1.0.4)", "(SRV=6.8.0)"};
        // Answer to "{P_PRGRQST}"; none for a device that is in upgrade mode already.
        std::optional<std::string> programRequestReply = std::string("{P_PRGRQST_OK}");
        // Text of the card identification answer; none: the frame is not answered.
        std::optional<std::string> cardText;
        LineSettings expectedLine{9600, Parity::None};
    };

    // Replies to a command the model does not know: bytes to send back, or nullopt when
    // the handler does not take the command.
    using CommandHandler = std::function<std::optional<Bytes>(const std::string& command)>;

    TextDevice() : TextDevice(Config{}) {}
    explicit TextDevice(Config config) : config(std::move(config)) {}

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override { line_ = line; }

    void addHandler(CommandHandler handler) { handlers_.push_back(std::move(handler)); }
    bool hearing() const { return line_ == config.expectedLine; }

    Config config;
    // Where the device's firmware version comes from when it runs a program of its own (a
    // CPU: Stm32Bootloader::runningVersion); "{F}" answers it in parentheses, the
    // configured firmware while it gives none.
    std::function<std::optional<std::string>()> firmwareSource;

    // Named failure modes.
    bool silent = false;      // takes commands in, answers none
    int halfLineReplies = 0;  // this many next replies stop halfway, without CR LF

    // What came in, for tests.
    Bytes received;                     // every byte, heard or not
    std::vector<std::string> commands;  // every command heard, as sent
    std::size_t garbledBytes = 0;       // bytes that came at the wrong line setting
    int unknownCommands = 0;
    int identRequests = 0;
    int halfLinesSent = 0;
    int protocolSwitches = 0;

  private:
    Bytes answer(const std::string& command);
    Bytes lines(const std::vector<std::string>& texts);

    std::vector<CommandHandler> handlers_;
    LineSettings line_{9600, Parity::None};
    std::string pending_;
    PicFrameReader frames_;
};

}  // namespace kv::sim
