#include "device/TextCommands.h"

#include "core/ports/ChannelError.h"
#include "device/Channels.h"

namespace kv {

std::string FlashImageCommand(const std::string& digestHex) {
    return "(FLASH_IMAGE=" + digestHex + ")";
}

void SendCommand(TcpClient& client, const TextCommand& command) {
    if (!command.overTcp) {
        throw KvError(std::string(command.text) + " is not sent over the network");
    }
    SendLine(client, std::string(command.text));
}

void SendCommand(SerialPort& port, const TextCommand& command) {
    switch (command.overCom) {
        case ComFraming::NotSent:
            throw KvError(std::string(command.text) + " is not sent over the COM port");
        case ComFraming::WithCrLf:
            WriteText(port, std::string(command.text) + "\r\n");
            return;
        case ComFraming::Bare:
            WriteText(port, std::string(command.text));
            return;
    }
}

}  // namespace kv
