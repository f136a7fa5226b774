#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "World.h"

class QThread;
class QObject;

namespace kv::sim {

class WorldServer;

// A WorldServer running on its own thread, for tests whose blocking clients run on the
// calling thread. Needs a QCoreApplication.
class WorldServerThread {
  public:
    explicit WorldServerThread(World& world);
    ~WorldServerThread();
    WorldServerThread(const WorldServerThread&) = delete;
    WorldServerThread& operator=(const WorldServerThread&) = delete;

    // Runs `work` on the server's thread and waits for it; exceptions are passed back.
    void run(const std::function<void(WorldServer&)>& work);
    // Held while a test looks at the models.
    std::mutex& mutex();

  private:
    std::unique_ptr<QThread> thread_;
    QObject* anchor_ = nullptr;
    WorldServer* server_ = nullptr;
    World& world_;
};

}  // namespace kv::sim
