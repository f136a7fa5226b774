#include "core/Engine.h"

#include <exception>

#include "core/ports/ChannelError.h"

namespace kv {

Engine::Engine(Context& context) : context_(context) {}

Engine::~Engine() {
    stop();
}

void Engine::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void Engine::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Engine::post(Action action) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(action));
    }
    wake_.notify_one();
}

void Engine::run() {
    for (;;) {
        Action action;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kIdlePoll, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            if (!queue_.empty()) {
                action = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        try {
            if (action) {
                action(context_);
            } else {
                context_.ProcessMessages();
            }
        } catch (const KvError& e) {
            // The application's general error display.
            context_.error_box(e.what());
        } catch (const std::exception& e) {
            context_.error_box(e.what());
        }
    }
}

}  // namespace kv
