#pragma once

#include <QObject>
#include <functional>

#include "core/Engine.h"

namespace kv::gui {

class TAddIPForm;
class TForm1;
class TForm2;

// Turns the operator's actions in the windows into engine actions that call the
// main window's handlers (Unit1). Selection indexes are read on the GUI thread when the
// action happens; the windows that only show something (About, Add IP) open here.
class ActionRouter : public QObject {
    Q_OBJECT
  public:
    using Post = std::function<void(Engine::Action)>;

    ActionRouter(Post post, TForm1& main, TForm2& about, TAddIPForm& addIp,
                 QObject* parent = nullptr);

  private:
    void upgrade();

    Post post_;
    TForm1& main_;
};

}  // namespace kv::gui
