#pragma once

#include <functional>

#include <QSerialPort>

#include "core/ports/SerialPort.h"

namespace kv {

// COM port (ComPort1) on QSerialPort: 8 data bits, 1 stop bit, no flow control, DTR and
// RTS held off. A setting the driver refuses (ptys cannot hold even parity) is reported
// through the warning sink and the port carries on.
class QtSerialPort : public SerialPort {
  public:
    using WarningSink = std::function<void(const std::string&)>;

    QtSerialPort();

    void setName(const std::string& name) override { name_ = name; }
    std::string name() const override { return name_; }
    void open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }

    void setBaud(int baud) override;
    int baud() const override { return baud_; }
    void setParity(Parity parity) override;
    Parity parity() const override { return parity_; }

    void write(ByteView bytes) override;
    Bytes read(std::size_t maxBytes, std::chrono::milliseconds totalTimeout) override;
    Bytes poll() override;

    void setWarningSink(WarningSink sink) { warn_ = std::move(sink); }

  private:
    void warn(const std::string& text);
    void applyBaud();
    void applyParity();
    void writeToDriver(ByteView bytes);

    QSerialPort port_;
    std::string name_ = "COM1";
    int baud_ = 9600;
    Parity parity_ = Parity::None;
    WarningSink warn_;
};

}  // namespace kv
