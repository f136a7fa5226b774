#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/Context.h"

namespace kv {

// The one worker thread that owns the shared state and the channels. Operator actions
// are queued and run one at a time in arrival order; between actions the engine keeps
// delivering asynchronous input (discovery answers, HID changes) through
// Context::ProcessMessages.
class Engine {
  public:
    using Action = std::function<void(Context&)>;
    static constexpr auto kIdlePoll = std::chrono::milliseconds(10);

    explicit Engine(Context& context);
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void start();
    // Lets the running action finish, drops queued ones and joins the thread.
    void stop();
    // Thread-safe: queue an operator action.
    void post(Action action);
    bool onEngineThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void run();

    Context& context_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Action> queue_;
    bool stopping_ = false;
};

}  // namespace kv
