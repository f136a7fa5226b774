#include "WorldServerThread.h"

#include <exception>

#include <QMetaObject>
#include <QThread>

#include "WorldServer.h"

namespace kv::sim {

WorldServerThread::WorldServerThread(World& world)
    : thread_(std::make_unique<QThread>()), world_(world) {
    anchor_ = new QObject;
    anchor_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        anchor_, [this] { server_ = new WorldServer(world_); }, Qt::BlockingQueuedConnection);
}

WorldServerThread::~WorldServerThread() {
    QMetaObject::invokeMethod(
        anchor_,
        [this] {
            delete server_;
            delete anchor_;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void WorldServerThread::run(const std::function<void(WorldServer&)>& work) {
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        anchor_,
        [&] {
            try {
                work(*server_);
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
}

std::mutex& WorldServerThread::mutex() {
    return server_->mutex();
}

}  // namespace kv::sim
