// The machine's serial ports and addresses as the real platform reports them.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QCoreApplication>
#include <QSerialPort>

#include "../e2e/DiscoveryPty.h"
#include "QtSystemInfo.h"

namespace kv {
namespace {

class QtSystemInfoTest : public ::testing::Test {
  protected:
    ~QtSystemInfoTest() override { ::unsetenv(QtSystemInfo::kExtraPortsVariable); }
    void extraPorts(const std::string& list) {
        ::setenv(QtSystemInfo::kExtraPortsVariable, list.c_str(), 1);
    }
    QtSystemInfo system;
};

TEST_F(QtSystemInfoTest, ExtraPortsComeFirstOnceEachAndTheListStopsAtTwenty) {
    std::string list = "/tmp/kv-a::/tmp/kv-b:/tmp/kv-a";
    auto names = (extraPorts(list), system.serialPortCandidates());
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "/tmp/kv-a");
    EXPECT_EQ(names[1], "/tmp/kv-b");
    EXPECT_EQ(std::count(names.begin(), names.end(), "/tmp/kv-a"), 1);

    list.clear();
    for (int i = 0; i < 25; ++i) list += "/tmp/kv-" + std::to_string(i) + ":";
    extraPorts(list);
    names = system.serialPortCandidates();
    ASSERT_EQ(names.size(), 20u);
    EXPECT_EQ(names.back(), "/tmp/kv-19");
}

TEST_F(QtSystemInfoTest, OnlyPortsThatOpenExclusivelyAreAvailable) {
    test::DiscoveryPty free;
    test::DiscoveryPty held;
    ASSERT_FALSE(free.path().empty());
    QSerialPort holder;
    holder.setPortName(QString::fromStdString(held.path()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));

    EXPECT_TRUE(system.trySerialPort(free.path()));
    // Tried and closed again: a second try finds it free as well.
    EXPECT_TRUE(system.trySerialPort(free.path()));
    EXPECT_FALSE(system.trySerialPort(held.path()));
    EXPECT_FALSE(system.trySerialPort("/nonexistent/ttyUSB9"));
    holder.close();
    EXPECT_TRUE(system.trySerialPort(held.path()));
}

TEST_F(QtSystemInfoTest, AddressesAreDottedIPv4WithLoopback) {
    auto addresses = system.localIPv4Addresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
    for (const auto& a : addresses) EXPECT_EQ(std::count(a.begin(), a.end(), '.'), 3) << a;
}

}  // namespace
}  // namespace kv

// The serial port opens register with the thread's event dispatcher.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
