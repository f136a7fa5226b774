#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/ports/FtpClient.h"

namespace kv::test {

// An FTP server in memory behind the FtpClient port. It keeps a remote tree (folders and
// files by absolute path), answers like a strict server (RMD of a non-empty folder, CWD
// into a missing one, MKD of an existing name are refused) and records every command
// as the wire would carry it: "USER root", "CWD /mnt", "LIST", "STOR a.js", "QUIT", ...
class FakeFtpClient : public FtpClient {
  public:
    FakeFtpClient();

    // Remote tree set-up; parents are created as needed.
    void addFolder(const std::string& path);
    void addFile(const std::string& path, const std::string& content = "");
    bool hasFolder(const std::string& path) const { return folders.count(path) > 0; }
    bool hasFile(const std::string& path) const { return files.count(path) > 0; }
    // Everything below `folder` (relative paths, folders ending in "/"), sorted.
    std::vector<std::string> treeBelow(const std::string& folder) const;

    void open(const std::string& host, int port, const std::string& user,
              const std::string& password, std::chrono::milliseconds timeout) override;
    void close() override;
    bool isOpen() const override { return open_; }
    void changeDir(const std::string& path) override;
    void changeDirUp() override;
    std::string currentDir() override;
    std::vector<std::string> listDetailed() override;
    void makeDir(const std::string& name) override;
    void removeDir(const std::string& name) override;
    void deleteFile(const std::string& name) override;
    void storeFile(const std::string& localPath, const std::string& remoteName) override;

    std::set<std::string> folders;
    std::map<std::string, std::string> files;
    std::vector<std::string> commands;
    // The command (as recorded) the server refuses with "550 Refused".
    std::string refuse;
    std::string host;
    int port = 0;
    std::chrono::milliseconds timeout{0};

  private:
    void command(const std::string& text);
    std::string resolve(const std::string& name) const;
    bool hasChildren(const std::string& folder) const;

    bool open_ = false;
    std::string cwd_ = "/";
};

}  // namespace kv::test
