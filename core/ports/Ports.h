#pragma once

#include "FtpClient.h"
#include "HidBus.h"
#include "SerialPort.h"
#include "StreamSocket.h"
#include "SystemInfo.h"
#include "TcpClient.h"
#include "UdpSocket.h"

namespace kv {

// The channel objects of the main window. They live as long as the program; the
// platform layer (or a test) owns them.
struct Ports {
    TcpClient* TcpClient1 = nullptr;        // device tunnel and module set-up (blocking)
    TcpClient* TcpClient2 = nullptr;        // web server version request
    StreamSocket* ClientSocket1 = nullptr;  // event-driven tunnel stream
    SerialPort* ComPort1 = nullptr;
    UdpSocket* IdUDPServer1 = nullptr;       // discovery listener, UDP 30718
    UdpSocket* XPORT_GPIO_Client = nullptr;  // module GPIO messages, UDP 30704
    UdpSocket* TFTP1 = nullptr;              // TFTP uploads, UDP 69
    FtpClient* IdFTP1 = nullptr;
    HidBus* HidCtl = nullptr;
    SystemInfo* System = nullptr;
};

}  // namespace kv
