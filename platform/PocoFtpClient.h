#pragma once

#include <memory>

#include "core/ports/FtpClient.h"

namespace Poco::Net {
class FTPClientSession;
}

namespace kv {

// IdFTP1: one control connection, image (binary) transfers, active data connections with
// a plain PORT command (the device's small server knows no EPRT).
class PocoFtpClient : public FtpClient {
  public:
    PocoFtpClient();
    ~PocoFtpClient() override;

    void open(const std::string& host, int port, const std::string& user,
              const std::string& password, std::chrono::milliseconds timeout) override;
    void close() override;
    bool isOpen() const override;
    void changeDir(const std::string& path) override;
    void changeDirUp() override;
    std::string currentDir() override;
    std::vector<std::string> listDetailed() override;
    void makeDir(const std::string& name) override;
    void removeDir(const std::string& name) override;
    void deleteFile(const std::string& name) override;
    void storeFile(const std::string& localPath, const std::string& remoteName) override;

  private:
    Poco::Net::FTPClientSession& session();

    std::unique_ptr<Poco::Net::FTPClientSession> session_;
};

}  // namespace kv
