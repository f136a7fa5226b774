#include "gui/ActionRouter.h"

#include "actions/OperatorActions.h"
#include "core/ControllerGrid.h"
#include "gui/AboutWindow.h"
#include "gui/AddIpWindow.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"

namespace kv::gui {

ActionRouter::ActionRouter(Post post, TForm1& main, TForm2& about, TAddIPForm& addIp,
                           QObject* parent)
    : QObject(parent), post_(std::move(post)), main_(main) {
    connect(&main, &TForm1::findClicked, this,
            [this] { post_([](Context& ctx) { Unit1::Panel2Click(ctx); }); });
    connect(&main, &TForm1::upgradeClicked, this, [this] { upgrade(); });
    connect(&main, &TForm1::aboutClicked, this, [&about] { about.exec(); });
    connect(&main, &TForm1::addIpClicked, this, [&addIp] { addIp.exec(); });
    connect(&addIp, &TAddIPForm::addRequested, this,
            [this](const QString& address, bool usePort, const QString& port) {
                post_([address = fromQ(address), usePort, port = fromQ(port)](Context& ctx) {
                    Unit1::AddIPButton1Click(ctx, address, usePort, port);
                });
            });
    connect(&main, &TForm1::networkDoubleClicked, this, [this](int index) {
        post_([index](Context& ctx) { Unit1::TreeView1DblClick(ctx, index); });
    });
    connect(&main, &TForm1::comDoubleClicked, this, [this](int index) {
        post_([index](Context& ctx) { Unit1::TreeView2DblClick(ctx, index); });
    });
    connect(&main, &TForm1::usbDoubleClicked, this,
            [this](int row) { post_([row](Context& ctx) { Unit1::USBViewDblClick(ctx, row); }); });
    connect(&main, &TForm1::handleAsChosen, this, [this](int entry, int network, int com) {
        post_([entry, network, com](Context& ctx) {
            Unit1::PopupMenu1Click(ctx, static_cast<Unit1::HandleAs>(entry), network, com);
        });
    });
    connect(&main, &TForm1::checkCellReleased, this,
            [this](int row) { post_([row](Context& ctx) { StringGrid1MouseUp(ctx, row); }); });
    connect(&main, &TForm1::fileCellReleased, this, [this](int column, int row) {
        post_([column, row](Context& ctx) { StringGrid2MouseUp(ctx, column, row); });
    });
    connect(&main, &TForm1::closeRequested, this, [this] {
        post_([](Context& ctx) {
            if (Unit1::FormCloseQuery(ctx)) ctx.ui.closeMainWindow();
        });
    });
}

void ActionRouter::upgrade() {
    // Nothing can be clicked twice while the upgrade waits in the queue or runs.
    main_.enableElement(UiElement::Grids, false);
    main_.enableElement(UiElement::Upgrade, false);
    main_.enableElement(UiElement::Find, false);
    post_([](Context& ctx) { Unit1::Image9Click(ctx); });
    // A separate action, so the controls come back also when the upgrade failed.
    post_([](Context& ctx) {
        ctx.ui.enable(UiElement::Grids, true);
        ctx.ui.enable(UiElement::Upgrade, true);
        ctx.ui.enable(UiElement::Find, true);
    });
}

}  // namespace kv::gui
