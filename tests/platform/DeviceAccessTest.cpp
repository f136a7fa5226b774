// A serial port or USB device node that exists but that this user may not open: the real
// platform code says so and names the fix, kvboot's error carries it, and a node that is
// missing is still just "cannot be opened". Runs as an ordinary user (CTest drops root
// with setpriv), where a node of mode 000 is refused as a device without the rights is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <string>

#include "HidapiBus.h"
#include "QtSystemInfo.h"
#include "cli/DeviceSession.h"
#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"

namespace kv {
namespace {

enum class Node { Refused, Missing };

struct Case {
    const char* name;
    Node node;
    // What opens the node: returns the message of AccessDenied, or "" when it did not throw.
    std::function<std::string(const std::string& path)> open;
    const char* fix;  // in the message when refused
};

std::string denial(const std::function<void()>& open) {
    try {
        open();
    } catch (const AccessDenied& e) {
        return e.what();
    }
    return "";
}

std::string connectSerial(const std::string& path) {
    QTemporaryDir data;
    cli::SessionOptions options;
    options.platformDataFolder = data.path().toStdString();
    cli::DeviceSession session(options);
    std::string error;
    const auto target = cli::ParseTarget("serial:" + path, error);
    return session.connect(*target, std::nullopt).message;
}

const Case kCases[] = {
    {"serial port refused", Node::Refused,
     [](const std::string& path) { return denial([&] { QtSystemInfo().trySerialPort(path); }); },
     "dialout"},
    {"serial port missing", Node::Missing,
     [](const std::string& path) {
         return denial([&] { EXPECT_FALSE(QtSystemInfo().trySerialPort(path)); });
     },
     nullptr},
    {"USB device refused", Node::Refused,
     [](const std::string& path) {
         return denial([&] { HidapiBus().open({path, "Korvandel", "NRV-USB", "KV7"}); });
     },
     "udev rule"},
    {"USB device missing", Node::Missing,
     [](const std::string& path) {
         return denial([&] {
             EXPECT_EQ(HidapiBus().open({path, "Korvandel", "NRV-USB", "KV7"}), nullptr);
         });
     },
     nullptr},
    {"kvboot names the fix for a refused port", Node::Refused, connectSerial, "dialout"},
};

TEST(DeviceAccess, RefusedNodesNameTheFixMissingOnesDoNot) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens every node; CTest runs this as nobody";
    QTemporaryDir folder;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.filePath("node").toStdString();
        ::unlink(path.c_str());
        if (c.node == Node::Refused) {
            std::ofstream(path).put('x');
            ASSERT_EQ(::chmod(path.c_str(), 0), 0);
        }
        const std::string message = c.open(path);
        if (c.node == Node::Missing) {
            EXPECT_EQ(message, "");
        } else if (std::string(c.name).rfind("kvboot", 0) == 0) {
            EXPECT_NE(message.find("Permission denied on the serial port"), std::string::npos)
                << message;
            EXPECT_NE(message.find(c.fix), std::string::npos) << message;
        } else {
            EXPECT_NE(message.find(path), std::string::npos) << message;
            EXPECT_NE(message.find(c.fix), std::string::npos) << message;
        }
    }
}

}  // namespace
}  // namespace kv
