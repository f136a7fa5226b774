#include "QtSystemInfo.h"

#include "DeviceAccess.h"
#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"

#include <QDir>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <algorithm>

#include "EventPump.h"

namespace kv {

namespace {

#ifndef Q_OS_WIN
const QStringList kTtyPatterns{QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
                               QStringLiteral("ttyS*")};

// ttyUSB and ttyACM devices exist only while the adapter is plugged in, so they go before
// the built-in ttyS ports; within a kind, ttyS2 comes before ttyS10.
bool portOrder(const QString& a, const QString& b) {
    auto kind = [](const QString& name) {
        for (int i = 0; i < kTtyPatterns.size(); ++i) {
            if (name.startsWith(kTtyPatterns[i].chopped(1))) return i;
        }
        return static_cast<int>(kTtyPatterns.size());
    };
    auto number = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1].isDigit()) --digits;
        return name.mid(digits).toLongLong();
    };
    if (kind(a) != kind(b)) return kind(a) < kind(b);
    if (number(a) != number(b)) return number(a) < number(b);
    return a < b;
}
#endif

}  // namespace

std::vector<std::string> QtSystemInfo::localIPv4Addresses() {
    std::vector<std::string> addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            addresses.push_back(address.toString().toStdString());
        }
    }
    return addresses;
}

std::vector<std::string> QtSystemInfo::serialPortCandidates() {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (!name.empty() && names.size() < kMaxPorts &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    };
    const QString extra = qEnvironmentVariable(kExtraPortsVariable);
    for (const QString& path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        add(path.toStdString());
    }
#ifdef Q_OS_WIN
    for (std::size_t n = 1; n <= kMaxPorts; ++n) add("COM" + std::to_string(n));
#else
    // Serial port info knows the real UARTs; /dev also has the adapters where no device
    // manager reports them (the legacy ttyS entries there are mostly empty slots).
    QStringList found;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (QDir::match(kTtyPatterns, info.portName())) found << info.portName();
    }
    const QStringList adapters{QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")};
    for (const QString& name : QDir(QStringLiteral("/dev")).entryList(adapters, QDir::System)) {
        if (!found.contains(name)) found << name;
    }
    if (found.isEmpty()) {
        found = QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyS*")}, QDir::System);
    }
    std::sort(found.begin(), found.end(), portOrder);
    for (const QString& name : found) add(name.toStdString());
#endif
    return names;
}

bool QtSystemInfo::trySerialPort(const std::string& name) {
    // Exclusive open: a port another program holds (or that has no hardware behind it)
    // fails here and is left out of the list.
    EnsureEventDispatcher();
    QSerialPort port;
    port.setPortName(QString::fromStdString(name));
    if (!port.open(QIODevice::ReadWrite)) {
        // Qt reports a port another program holds as a permission error too; only the
        // node's own rights tell the two apart. A bare name is a node in /dev.
        const std::string path = name.rfind('/', 0) == 0 ? name : "/dev/" + name;
        if (LacksAccess(path)) throw AccessDenied(SerialAccessMessage(name));
        return false;
    }
    port.close();
    return true;
}

}  // namespace kv
