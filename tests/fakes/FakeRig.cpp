#include "FakeRig.h"

#include <atomic>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace kv::test {

namespace {
std::filesystem::path freshFolder() {
    static std::atomic<int> counter{0};
    auto path = std::filesystem::temp_directory_path() /
                ("kvtest-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}
}  // namespace

FakeRig::FakeRig() : folder(freshFolder()) {
    ports.TcpClient1 = &tcp1;
    ports.TcpClient2 = &tcp2;
    ports.ClientSocket1 = &socket1;
    ports.ComPort1 = &com1;
    ports.IdUDPServer1 = &udpServer;
    ports.XPORT_GPIO_Client = &gpioClient;
    ports.TFTP1 = &tftp;
    ports.System = &system;
    ports.HidCtl = &hid;
    state.DebugSwitch = "ON";
    log.open(folder.string(), folder.string());
}

FakeRig::~FakeRig() {
    log.close();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

std::size_t FakeRig::sentCount() const {
    return tcp1.sent.size() + tcp2.sent.size() + socket1.sent.size() + com1.sent.size() +
           udpServer.sent.size() + gpioClient.sent.size() + tftp.sent.size() + hid.written.size();
}

std::vector<std::string> FakeRig::logLines() const {
    std::ifstream in(log.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::vector<std::string> lines;
    std::string text = content.str();
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
        lines.push_back(text.substr(start, pos - start));
    }
    return lines;
}

TMatrixRec& FakeRig::addDevice(const std::string& ip, int port) {
    TMatrixRec device;
    device.IP = ip;
    device.Port = port;
    state.DeviceList.push_back(device);
    state.SelectedDevice = static_cast<std::int32_t>(state.DeviceList.size() - 1);
    return state.DeviceList.back();
}

TMatrixRec& FakeRig::addSerialDevice(sim::StreamPeer* peer) {
    world.attachSerial("COM3", peer);
    com1.setName("COM3");
    com1.open();
    state.ConnectionKind = ConnectionKind::Serial;
    return addDevice("COM3", 0);
}

}  // namespace kv::test
