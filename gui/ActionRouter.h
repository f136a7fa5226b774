#pragma once

#include <QObject>
#include <functional>

#include "core/Engine.h"

namespace kv::gui {

class AddIpWindow;
class MainWindow;
class AboutWindow;

// Turns the operator's actions in the windows into engine actions that call the
// operations both front ends share (actions/). Selection indexes are read on the GUI thread when the
// action happens; the windows that only show something (About, Add IP) open here.
class ActionRouter : public QObject {
    Q_OBJECT
  public:
    using Post = std::function<void(Engine::Action)>;

    ActionRouter(Post post, MainWindow& main, AboutWindow& about, AddIpWindow& addIp,
                 QObject* parent = nullptr);

  private:
    void upgrade();

    Post post_;
    MainWindow& main_;
};

}  // namespace kv::gui
