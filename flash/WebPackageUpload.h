#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"
#include "core/ports/FtpClient.h"

namespace kv {

constexpr const char* kWebPackageFolder = "webpackage";
constexpr const char* kWebContentFolder = "webcontent";
constexpr const char* kWebRoot = "/mnt/flash/http";
// Kept by the device for the operator's own pages: emptied like the root, never removed.
constexpr const char* kWebRootExtra = "/mnt/flash/http/extra";
constexpr const char* kFtpUser = "root";
constexpr const char* kFtpPassword = "Qm4t+zk7e";
constexpr int kFtpPort = 21;
constexpr auto kFtpTimeout = std::chrono::milliseconds(30000);

// Replaces the device's web site: logs in to the FTP server at `host` (IdFTP1, active
// mode), empties the web root and uploads appDataFolder/webpackage/webcontent into it,
// subfolders included. Every failure throws (KvError or ChannelError with the server's
// text) and ends the caller's upgrade; the FTP connection is closed in any case.
// A missing local web content folder is refused before anything on the device is removed.
void FtpUploadWebContent(Context& ctx, const std::string& host, const std::string& appDataFolder,
                         int port = kFtpPort);

// How deep below the web root clearing goes; a web site is never more than a few
// levels deep, so anything deeper is a folder loop on the device.
constexpr int kMaxWebFolderDepth = 8;

// Empties the remote folder `path` depth first and removes it, except the web root and
// its "extra" folder, which are only emptied. Leaves the parent of `path` current.
// `depth` is how far `path` lies below the folder clearing started in; a folder more than
// kMaxWebFolderDepth levels down throws KvError before anything in it is touched.
void ClearRemoteFolder(Context& ctx, FtpClient& ftp, const std::string& path, int depth = 0);

// Uploads the files and subfolders of `localFolder` (with or without a trailing
// separator) into the current remote folder; remote folders are made when missing.
// Entries go in name order. The progress bar counts files from 0 in every folder.
void UploadFolder(Context& ctx, FtpClient& ftp, const std::string& localFolder);

}  // namespace kv
