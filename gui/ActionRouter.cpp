#include "gui/ActionRouter.h"

#include "actions/History.h"
#include "actions/Operations.h"
#include "gui/AboutWindow.h"
#include "gui/AddIpWindow.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"

namespace kv::gui {

namespace {

constexpr int kFileColumn = 4;

}  // namespace

ActionRouter::ActionRouter(Post post, MainWindow& main, AboutWindow& about, AddIpWindow& addIp,
                           QObject* parent)
    : QObject(parent), post_(std::move(post)), main_(main) {
    connect(&main, &MainWindow::findClicked, this,
            [this] { post_([](Context& ctx) { ops::Find(ctx); }); });
    connect(&main, &MainWindow::upgradeClicked, this, [this] { upgrade(); });
    connect(&main, &MainWindow::aboutClicked, this, [&about] { about.exec(); });
    connect(&main, &MainWindow::addIpClicked, this, [&addIp] { addIp.exec(); });
    connect(&addIp, &AddIpWindow::addRequested, this,
            [this](const QString& address, bool usePort, const QString& port) {
                post_([address = fromQ(address), usePort, port = fromQ(port)](Context& ctx) {
                    ops::AddAddress(ctx, address, usePort, port);
                });
            });
    connect(&main, &MainWindow::networkDoubleClicked, this, [this](int index) {
        post_([index](Context& ctx) { ops::ConnectNetworkEntry(ctx, index); });
    });
    connect(&main, &MainWindow::comDoubleClicked, this, [this](int index) {
        post_([index](Context& ctx) { ops::ConnectSerialEntry(ctx, index); });
    });
    connect(&main, &MainWindow::usbDoubleClicked, this,
            [this](int row) { post_([row](Context& ctx) { ops::ConnectUsbEntry(ctx, row); }); });
    connect(&main, &MainWindow::handleAsChosen, this, [this](int entry, int network, int com) {
        // The entries after the choices (Cancel) connect nothing.
        const auto choices = HandleAsChoices();
        if (entry < 0 || static_cast<std::size_t>(entry) >= choices.size()) return;
        post_([as = choices[static_cast<std::size_t>(entry)].id, network, com](Context& ctx) {
            ops::ConnectAs(ctx, as, network, com);
        });
    });
    connect(&main, &MainWindow::checkCellReleased, this,
            [this](int row) { post_([row](Context& ctx) { ops::ToggleRow(ctx, row); }); });
    connect(&main, &MainWindow::fileCellReleased, this, [this](int column, int row) {
        // Only the "Browse New Firmware" column chooses a file.
        if (column == kFileColumn) post_([row](Context& ctx) { ops::PickFile(ctx, row); });
    });
    connect(&main, &MainWindow::closeRequested, this, [this] {
        post_([](Context& ctx) {
            if (ops::Close(ctx)) ctx.ui.closeMainWindow();
        });
    });
}

void ActionRouter::upgrade() {
    // Nothing can be clicked twice while the upgrade waits in the queue or runs.
    main_.enableElement(UiElement::Grids, false);
    main_.enableElement(UiElement::Upgrade, false);
    main_.enableElement(UiElement::Find, false);
    post_([](Context& ctx) {
        const ops::RecordedRun recorded = ops::UpgradeWithRecord(ctx, "window");
        if (recorded.record) ops::AppendToHistory(ctx, *recorded.record);
    });
    // A separate action, so the controls come back also when the upgrade failed.
    post_([](Context& ctx) {
        ctx.ui.enable(UiElement::Grids, true);
        ctx.ui.enable(UiElement::Upgrade, true);
        ctx.ui.enable(UiElement::Find, true);
    });
}

}  // namespace kv::gui
