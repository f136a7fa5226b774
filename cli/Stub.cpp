// Placeholder bodies of the session interface until the engine behind it is in.
#include "cli/Commands.h"
#include "cli/Json.h"

namespace kv::cli {

struct DeviceSession::Impl {
    SessionOptions options;
};

DeviceSession::DeviceSession(SessionOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}
DeviceSession::~DeviceSession() = default;
DiscoveryResult DeviceSession::discover(std::chrono::milliseconds) {
    return {{SessionError::Failed, "not built yet"}, {}, {}, {}};
}
SessionResult DeviceSession::connect(const Target&, std::optional<HandleAsType>) {
    return {SessionError::Failed, "not built yet"};
}
bool DeviceSession::connected() const {
    return false;
}
DeviceInfo DeviceSession::device() const {
    return {};
}
std::vector<ControllerRow> DeviceSession::rows() const {
    return {};
}
SessionResult DeviceSession::chooseFile(const std::string&, const std::string&) {
    return {SessionError::Failed, "not built yet"};
}
void DeviceSession::setQuickBootload(bool) {}
void DeviceSession::setAnswer(Question, MsgButton) {}
UpgradeOutcome DeviceSession::upgrade() {
    UpgradeOutcome o;
    o.result = {SessionError::Failed, "not built yet"};
    return o;
}
void DeviceSession::requestInterrupt() {}
bool DeviceSession::interruptRequested() const {
    return false;
}
SessionResult DeviceSession::close() {
    return {};
}
std::string DeviceSession::logPath() const {
    return {};
}
std::vector<std::string> DeviceSession::messages() const {
    return {};
}
DiscoveryResult Discover(std::chrono::milliseconds wait, SessionOptions options) {
    DeviceSession s(std::move(options));
    return s.discover(wait);
}
FileCheck CheckFile(const std::string&) {
    FileCheck c;
    c.result = {SessionError::Failed, "not built yet"};
    return c;
}
int RunKvboot(int, char**, Console&) {
    return 2;
}

}  // namespace kv::cli
