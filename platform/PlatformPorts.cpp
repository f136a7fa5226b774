#include "PlatformPorts.h"

#include "HidapiBus.h"
#include "PocoFtpClient.h"
#include "QtSerialPort.h"
#include "QtStreamSocket.h"
#include "QtSystemInfo.h"
#include "QtTcpClient.h"
#include "QtUdpSocket.h"

namespace kv {

// The real channel implementations; each is added here as it is built.
struct PlatformPorts::Owned {
    PocoFtpClient ftp;
    QtTcpClient tcp1;
    QtTcpClient tcp2;
    QtStreamSocket socket1;
    QtSerialPort com1;
    QtUdpSocket udpServer;
    QtUdpSocket gpioClient;
    QtUdpSocket tftp;
    HidapiBus hid;
    QtSystemInfo system;
};

PlatformPorts::PlatformPorts() : owned_(std::make_unique<Owned>()) {
    ports_.IdFTP1 = &owned_->ftp;
    ports_.TcpClient1 = &owned_->tcp1;
    ports_.TcpClient2 = &owned_->tcp2;
    ports_.ClientSocket1 = &owned_->socket1;
    ports_.ComPort1 = &owned_->com1;
    ports_.IdUDPServer1 = &owned_->udpServer;
    ports_.XPORT_GPIO_Client = &owned_->gpioClient;
    ports_.TFTP1 = &owned_->tftp;
    ports_.HidCtl = &owned_->hid;
    ports_.System = &owned_->system;
}

PlatformPorts::~PlatformPorts() = default;

void PlatformPorts::setLogSink(std::function<void(const std::string&)> sink) {
    owned_->com1.setWarningSink(std::move(sink));
}

}  // namespace kv
