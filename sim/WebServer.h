#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "World.h"

namespace kv::sim {

// The network module's web server (TCP 80): answers an HTTP request with a status line,
// one header, the empty line and the page, then closes the connection. The version page
// "/js/version.html" is the web content version alone, so it is the fourth line of the
// answer.
class WebServer {
  public:
    static constexpr std::uint16_t kPort = 80;
    static constexpr const char* kVersionPath = "/js/version.html";

    struct Config {
        std::string address = "127.0.0.2";
        std::string contentVersion = "1.0.4";
    };

    WebServer() : WebServer(Config{}) {}
    explicit WebServer(Config config) : config(std::move(config)) {}

    void attach(World& world);

    // The answer to one complete request head (request line and headers).
    std::string answer(const std::string& requestHead);

    Config config;
    // Named failure mode: accepts connections and requests, never answers.
    bool silent = false;

    std::vector<std::string> requests;  // request heads as received
};

}  // namespace kv::sim
