#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

// FTP client (IdFTP1), active mode. Every failure throws ChannelError with the
// server's or the socket's text.
class FtpClient {
  public:
    virtual ~FtpClient() = default;
    virtual void open(const std::string& host, int port, const std::string& user,
                      const std::string& password, std::chrono::milliseconds timeout) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void changeDir(const std::string& path) = 0;   // CWD
    virtual void changeDirUp() = 0;                        // CDUP
    virtual std::string currentDir() = 0;                  // PWD
    virtual std::vector<std::string> listDetailed() = 0;   // LIST, one line per entry
    virtual void makeDir(const std::string& name) = 0;     // MKD
    virtual void removeDir(const std::string& name) = 0;   // RMD
    virtual void deleteFile(const std::string& name) = 0;  // DELE
    virtual void storeFile(const std::string& localPath,
                           const std::string& remoteName) = 0;  // STOR

    // Where the client names what it refused and carried on without (a data connection
    // from a host other than the server); the caller points it at the log while it uses
    // the client.
    using RefusalLog = std::function<void(const std::string&)>;
    void setRefusalLog(RefusalLog log) { refusalLog_ = std::move(log); }

  protected:
    void logRefusal(const std::string& text) const {
        if (refusalLog_) refusalLog_(text);
    }

  private:
    RefusalLog refusalLog_;
};

}  // namespace kv
