#include "gui/MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <array>

#include "gui/FramedDialog.h"
#include "gui/GridGeometry.h"
#include "gui/GuiText.h"
#include "gui/Pictures.h"
#include "gui/Widgets.h"
#include "device/HandleAs.h"

namespace kv::gui {

namespace {

const QColor kBandGrey(72, 82, 85);
const QColor kButtonGrey(134, 146, 149);
const QColor kSilver(192, 192, 192);
const QColor kNavy(0, 0, 128);

constexpr const char* kTitle = "Korvandel Bootloader v3.3.2";

// The Handle-as menu's Cancel entry comes after the choices.
const int kHandleAsCancel = static_cast<int>(HandleAsChoices().size());

constexpr std::array<const char*, 5> kGridCaptions{"Controller Type", "Hardware Version",
                                                   "Bootloader Version", "Firmware Version",
                                                   "Browse New Firmware"};

void fill(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
    }
    widget->setPalette(palette);
}

// Disabled grids keep their look; they only stop taking the mouse.
void setBase(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, color);
    }
    widget->setPalette(palette);
}

QWidget* region(QWidget* parent, const char* name, const QRect& place, const QColor& color) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(place);
    fill(widget, color);
    return widget;
}

QGroupBox* box(QWidget* parent, const char* name, const QString& title, const QRect& place) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(QLatin1String(name));
    group->setGeometry(place);
    group->setFont(arialPx(12));
    group->setStyleSheet(QStringLiteral(
        "QGroupBox { background-color: white; border: 1px solid rgb(170,170,170);"
        " margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }"));
    return group;
}

// Area of a box below its title, where its list or text goes.
QRect boxInterior(const QGroupBox* group) {
    return QRect(8, 18, group->width() - 16, group->height() - 26);
}

QTreeWidget* deviceTree(QGroupBox* parent, const char* name) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(QLatin1String(name));
    tree->setGeometry(boxInterior(parent));
    tree->setFont(arialPx(12));
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(false);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setExpandsOnDoubleClick(false);
    return tree;
}

QTableWidget* grid(QWidget* parent, const char* name, int columns) {
    auto* table = new QTableWidget(1, columns, parent);
    table->setObjectName(QLatin1String(name));
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->verticalHeader()->setMinimumSectionSize(kGridRowHeight);
    table->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    table->setFrameStyle(QFrame::Box | QFrame::Plain);
    table->setLineWidth(kGridFrame);
    table->setFont(arialPx(15));
    table->setTextElideMode(Qt::ElideNone);
    setTextColor(table, kNavy);
    setBase(table, Qt::white);
    return table;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return item;
}

void setCellText(QTableWidget* table, int row, int column, const QString& text) {
    if (QTableWidgetItem* item = table->item(row, column)) {
        item->setText(text);
    } else {
        table->setItem(row, column, cell(text));
    }
}

QLabel* label(QWidget* parent, const QString& text, const QRect& place, const QFont& font) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(place);
    l->setFont(font);
    return l;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Korvandel Bootloader"));
    setWindowIcon(applicationIcon());
    setFixedSize(kClientWidth, kClientHeight);
    // The black background shows as the two-pixel frame around the content.
    fill(this, Qt::black);

    content_ = new QWidget(this);
    content_->setObjectName(QStringLiteral("Content"));
    content_->setGeometry(kFrameWidth, kFrameWidth, kClientWidth - 2 * kFrameWidth,
                          kClientHeight - 2 * kFrameWidth);
    fill(content_, Qt::black);

    // Created back to front: the lower band lies under the buttons and the grid, the
    // white work area under the boxes.
    LowerBand = region(content_, "LowerBand", QRect(0, 358, 823, 411), kBandGrey);
    WorkArea = region(content_, "WorkArea", QRect(110, 80, 710, 442), Qt::white);
    buildTitleArea();
    buildButtons();
    buildWorkArea();
    buildPropertiesAndMemo();
    buildControllerGrid();
    buildStatusBar();
    buildBusyOverlay();
    buildPopupMenu();

    centreOnScreen(this);
}

void MainWindow::buildTitleArea() {
    LogoBox = region(content_, "LogoBox", QRect(0, 0, 110, 80), Qt::black);
    auto* logo = new QLabel(LogoBox);
    logo->setGeometry(LogoBox->rect());
    logo->setPixmap(logoPicture(LogoBox->size()));
    logo->setAttribute(Qt::WA_TransparentForMouseEvents);

    TitleBand = region(content_, "TitleBand", QRect(110, 0, 714, 80), kBandGrey);
    TitleLabel = label(TitleBand, QLatin1String(kTitle), QRect(14, 0, 270, 80), arialPx(16, true));
    TitleLabel->setObjectName(QStringLiteral("Title"));
    setTextColor(TitleLabel, Qt::white);
    for (int i = 0; i < kTitleIconCount; ++i) {
        auto* icon = new QLabel(TitleBand);
        icon->setObjectName(QStringLiteral("TitleIcon%1").arg(i + 1));
        icon->setGeometry(300 + i * 38, 27, 25, 25);
        icon->setPixmap(titleIcon(i));
    }
    // At the right end of the band's visible part.
    Label12 = new ClickLabel(QStringLiteral("X"), Qt::white, Qt::yellow, TitleBand);
    Label12->setObjectName(QStringLiteral("Label12"));
    Label12->setFont(arialPx(24, true));
    Label12->setAlignment(Qt::AlignCenter);
    Label12->setGeometry(content_->width() - TitleBand->x() - 40, 20, 30, 40);
    Label12->setCursor(Qt::PointingHandCursor);
    connect(Label12, &ClickLabel::clicked, this, &MainWindow::closeRequested);

    auto* dragger = new WindowDragger(this);
    dragger->watch(LogoBox);
    dragger->watch(TitleBand);
    dragger->watch(TitleLabel);
}

void MainWindow::buildButtons() {
    Spacer = region(content_, "Spacer", QRect(0, 80, 110, 40), kBandGrey);

    const HoverPanel::Look hover{Qt::black, Qt::white};
    Panel2 = new HoverPanel({kButtonGrey, Qt::black}, hover, content_);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 120, 110, 80);
    Panel2->addCaption(QStringLiteral("FIND"), arialPx(13, true), Panel2->rect())
        ->setObjectName(QStringLiteral("Panel2Caption"));
    connect(Panel2, &HoverPanel::clicked, this, &MainWindow::findClicked);

    Panel1 = new HoverPanel({kBandGrey, kSilver}, hover, content_);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 200, 110, 80);
    const char* upgradeLines[] = {"UPGRADE", "SELECTED", "FIRMWARES"};
    for (int i = 0; i < 3; ++i) {
        Panel1
            ->addCaption(QLatin1String(upgradeLines[i]), arialPx(12, true),
                         QRect(0, 31 + i * 15, 110, 15))
            ->setObjectName(QStringLiteral("Panel1Caption%1").arg(i + 1));
    }
    // The picture covers the whole button and takes its clicks.
    Image9 = new ClickImage(upgradePicture(QSize(24, 22)), QPoint(43, 6), Panel1);
    Image9->setObjectName(QStringLiteral("Image9"));
    Image9->setGeometry(Panel1->rect());
    connect(Image9, &ClickImage::clicked, this, &MainWindow::upgradeClicked);
    Panel1->setEnabled(false);

    Panel7 = new HoverPanel({kButtonGrey, Qt::black}, hover, content_);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setGeometry(0, 280, 110, 80);
    Panel7->addCaption(QStringLiteral("ABOUT"), arialPx(13, true), Panel7->rect())
        ->setObjectName(QStringLiteral("Panel7Caption"));
    connect(Panel7, &HoverPanel::clicked, this, &MainWindow::aboutClicked);

    for (HoverPanel* button : {Panel2, Panel1, Panel7}) button->setCursor(Qt::PointingHandCursor);
}

void MainWindow::buildWorkArea() {
    Button1 = new QPushButton(QStringLiteral("Add IP"), WorkArea);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(279, 0, 75, 25);
    Button1->setFont(arialPx(12));
    connect(Button1, &QPushButton::clicked, this, &MainWindow::addIpClicked);

    EthernetBox = box(content_, "EthernetBox", QStringLiteral("Available devices on Ethernet"),
                      QRect(116, 104, 348, 136));
    TreeView1 = deviceTree(EthernetBox, "TreeView1");

    ComBox =
        box(content_, "ComBox", QStringLiteral("Available COM Ports"), QRect(116, 246, 348, 141));
    TreeView2 = deviceTree(ComBox, "TreeView2");

    UsbBox = box(WorkArea, "UsbBox", QStringLiteral("USB Devices"), QRect(6, 313, 348, 121));
    USBView = new QTreeWidget(UsbBox);
    USBView->setObjectName(QStringLiteral("USBView"));
    USBView->setGeometry(boxInterior(UsbBox));
    USBView->setFont(arialPx(12));
    USBView->setColumnCount(3);
    USBView->setHeaderLabels(
        {QStringLiteral("Product Name"), QStringLiteral("Serial"), QStringLiteral("Index")});
    USBView->setHeaderHidden(true);
    USBView->setColumnWidth(0, 200);
    USBView->setColumnWidth(1, 120);
    USBView->setColumnHidden(2, true);
    USBView->setRootIsDecorated(false);
    USBView->setSelectionBehavior(QAbstractItemView::SelectRows);
    USBView->setSelectionMode(QAbstractItemView::SingleSelection);
    USBView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    USBView->setAllColumnsShowFocus(true);
    USBView->setExpandsOnDoubleClick(false);

    for (QTreeWidget* list : {TreeView1, TreeView2, USBView})
        list->viewport()->installEventFilter(this);
}

void MainWindow::buildPropertiesAndMemo() {
    PropertiesBox = box(content_, "PropertiesBox", QStringLiteral("Device Properties"),
                        QRect(470, 104, 345, 233));
    const char* captions[] = {"Device Name:", "Serial Number:", "IP address:", "MAC address:"};
    // The design texts are emptied by the state reset; they start empty here.
    QLabel** values[] = {&Label6, &Label4, &Label8, &Label2};
    const char* names[] = {"Label6", "Label4", "Label8", "Label2"};
    for (int i = 0; i < 4; ++i) {
        const int y = 30 + i * 32;
        label(PropertiesBox, QLatin1String(captions[i]), QRect(14, y, 100, 20), arialPx(12));
        *values[i] = label(PropertiesBox, QString(), QRect(116, y, 220, 20), arialPx(12, true));
        (*values[i])->setObjectName(QLatin1String(names[i]));
    }
    CheckBox1 =
        new QCheckBox(QStringLiteral("Quick Bootload (checksum verification only)"), PropertiesBox);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setFont(arialPx(12));
    CheckBox1->setGeometry(14, 196, 320, 22);

    CommunicationBox = box(content_, "CommunicationBox", QStringLiteral("Communication"),
                           QRect(470, 343, 345, 171));
    UDPMemo = new QPlainTextEdit(CommunicationBox);
    UDPMemo->setObjectName(QStringLiteral("UDPMemo"));
    UDPMemo->setGeometry(boxInterior(CommunicationBox));
    UDPMemo->setReadOnly(true);
    UDPMemo->setFont(arialPx(11));
    UDPMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    UDPMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void MainWindow::buildControllerGrid() {
    StringGrid3 = grid(content_, "StringGrid3", 5);
    StringGrid2 = grid(content_, "StringGrid2", 5);
    StringGrid1 = grid(content_, "StringGrid1", 1);
    StringGrid1->setColumnWidth(0, kCheckColumnWidth);
    StringGrid1->setItemDelegate(new CheckCellDelegate(StringGrid1));
    for (int c = 0; c < 5; ++c) {
        StringGrid3->setColumnWidth(c, kGridColumnWidths[static_cast<std::size_t>(c)]);
        StringGrid2->setColumnWidth(c, kGridColumnWidths[static_cast<std::size_t>(c)]);
        StringGrid3->setItem(0, c, cell(QLatin1String(kGridCaptions[static_cast<std::size_t>(c)])));
        StringGrid2->setItem(0, c, cell(QString()));
    }
    StringGrid1->setItem(0, 0, cell(QString()));
    setBase(StringGrid3, QColor(236, 236, 236));
    StringGrid3->setAttribute(Qt::WA_TransparentForMouseEvents);

    for (QTableWidget* table : {StringGrid1, StringGrid2}) {
        table->viewport()->installEventFilter(this);
        table->setEnabled(false);
    }
    layoutControllerGrid(1);
}

void MainWindow::layoutControllerGrid(int rows) {
    const ControllerGridGeometry g = kv::gui::layoutControllerGrid(rows);
    StringGrid1->setGeometry(g.checkColumn);
    StringGrid3->setGeometry(g.header);
    StringGrid2->setGeometry(g.rows);
    StringGrid1->clearSelection();
    StringGrid2->clearSelection();
    StringGrid2->setCurrentCell(-1, -1);
}

void MainWindow::buildStatusBar() {
    StatusBar1 = region(
        content_, "StatusBar1",
        QRect(0, content_->height() - kStatusHeight, content_->width(), kStatusHeight), Qt::white);
    StatusText =
        label(StatusBar1, QString(), QRect(0, 0, kStatusTextWidth, kStatusHeight), arialPx(11));
    StatusText->setObjectName(QStringLiteral("StatusText"));
    StatusText->setIndent(3);
    ProgressPanel =
        region(StatusBar1, "ProgressPanel",
               QRect(kStatusTextWidth, 0, kStatusProgressWidth, kStatusHeight), Qt::white);
    ProgressBar1 = new QProgressBar(ProgressPanel);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    // Placed over the progress panel, narrower by the inset.
    ProgressBar1->setGeometry(0, 0, ProgressPanel->width() - kProgressBarInset,
                              ProgressPanel->height());
}

void MainWindow::buildBusyOverlay() {
    Panel8 = new QLabel(content_);
    Panel8->setObjectName(QStringLiteral("Panel8"));
    Panel8->setGeometry(317, 166, 257, 80);
    Panel8->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel8->setLineWidth(2);
    Panel8->setAlignment(Qt::AlignCenter);
    Panel8->setFont(arialPx(13, true));
    fill(Panel8, kBandGrey);
    setTextColor(Panel8, Qt::white);
    Panel8->hide();
    Panel8->raise();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kBusyInterval);
    // Each tick stops the timer and hides the overlay.
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        Panel8->hide();
    });
    Timer1->start();
}

void MainWindow::buildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    int entry = 0;
    for (const HandleAsChoice& choice : HandleAsChoices())
        PopupMenu1->addAction(toQ(HandleAsCaption(choice.id)))->setData(entry++);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(QStringLiteral("Cancel"))->setData(kHandleAsCancel);
    connect(PopupMenu1, &QMenu::triggered, this, [this](QAction* action) {
        emit handleAsChosen(action->data().toInt(), selectedIndex(TreeView1),
                            selectedIndex(TreeView2));
    });
}

void MainWindow::openPopupMenu(const QPoint& globalPos) {
    PopupMenu1->popup(globalPos);
}

int MainWindow::selectedIndex(const QTreeWidget* tree) {
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    if (selected.isEmpty()) return -1;
    return tree->indexOfTopLevelItem(selected.front());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease) {
        return QWidget::eventFilter(watched, event);
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = mouse->position().toPoint();

    if (watched == TreeView1->viewport() || watched == TreeView2->viewport()) {
        QTreeWidget* tree = watched == TreeView1->viewport() ? TreeView1 : TreeView2;
        if (type == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton) {
            // The network list selects the entry under the cursor first; the COM list
            // keeps its selection, so the press must not reach the list.
            if (tree == TreeView1) {
                if (QTreeWidgetItem* item = tree->itemAt(pos)) tree->setCurrentItem(item);
            }
            openPopupMenu(mouse->globalPosition().toPoint());
            return true;
        }
        if (type == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
            const int index = selectedIndex(tree);
            if (tree == TreeView1) {
                emit networkDoubleClicked(index);
            } else {
                emit comDoubleClicked(index);
            }
            return true;
        }
    } else if (watched == USBView->viewport()) {
        if (type == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
            emit usbDoubleClicked(selectedIndex(USBView));
            return true;
        }
    } else if (watched == StringGrid1->viewport()) {
        // Event filters see the mouse even on a disabled grid, which must ignore it.
        if (type == QEvent::MouseButtonRelease && StringGrid1->isEnabled()) {
            emit checkCellReleased(StringGrid1->rowAt(pos.y()));
        }
        return true;
    } else if (watched == StringGrid2->viewport()) {
        if (type == QEvent::MouseButtonRelease && StringGrid2->isEnabled()) {
            emit fileCellReleased(StringGrid2->columnAt(pos.x()), StringGrid2->rowAt(pos.y()));
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAllowed_) {
        event->accept();
        return;
    }
    // Only the close query may end the window.
    event->ignore();
    emit closeRequested();
}

void MainWindow::showControllerRows(const QList<GridRowText>& rows) {
    const int count = std::max<int>(1, static_cast<int>(rows.size()));
    StringGrid1->setRowCount(count);
    StringGrid2->setRowCount(count);
    for (int r = 0; r < count; ++r) {
        const bool known = r < rows.size();
        setCellText(StringGrid1, r, 0, known && rows[r].checked ? QStringLiteral("X") : QString());
        for (int c = 0; c < 5; ++c) {
            setCellText(StringGrid2, r, c, known ? rows[r].cells.value(c) : QString());
        }
    }
    layoutControllerGrid(count);
}

void MainWindow::showTreeEntries(QTreeWidget* tree, const QStringList& entries) {
    // Updated in place, so the operator's selection survives a refresh.
    while (tree->topLevelItemCount() > entries.size()) {
        delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
    }
    for (int i = 0; i < entries.size(); ++i) {
        if (i < tree->topLevelItemCount()) {
            tree->topLevelItem(i)->setText(0, entries[i]);
        } else {
            tree->addTopLevelItem(new QTreeWidgetItem(QStringList{entries[i]}));
        }
    }
}

void MainWindow::showUsbRows(const QList<QStringList>& rows) {
    while (USBView->topLevelItemCount() > rows.size()) {
        delete USBView->takeTopLevelItem(USBView->topLevelItemCount() - 1);
    }
    for (int i = 0; i < rows.size(); ++i) {
        if (i >= USBView->topLevelItemCount()) USBView->addTopLevelItem(new QTreeWidgetItem());
        QTreeWidgetItem* item = USBView->topLevelItem(i);
        for (int c = 0; c < 3; ++c) item->setText(c, rows[i].value(c));
    }
}

void MainWindow::showDeviceProperties(const QString& name, const QString& serial, const QString& ip,
                                  const QString& mac) {
    Label6->setText(name);
    Label4->setText(serial);
    Label8->setText(ip);
    Label2->setText(mac);
}

void MainWindow::showProgress(int position, int maximum) {
    ProgressBar1->setMaximum(std::max(0, maximum));
    ProgressBar1->setValue(std::clamp(position, 0, std::max(0, maximum)));
}

void MainWindow::enableElement(UiElement element, bool enabled) {
    switch (element) {
        case UiElement::Upgrade:
            Panel1->setEnabled(enabled);
            break;
        case UiElement::Find:
            Panel2->setEnabled(enabled);
            break;
        case UiElement::Grids:
            StringGrid1->setEnabled(enabled);
            StringGrid2->setEnabled(enabled);
            break;
        case UiElement::ComTree:
            TreeView2->setEnabled(enabled);
            break;
    }
}

void MainWindow::restartBusyTimer() {
    Timer1->stop();
    Timer1->start();
}

}  // namespace kv::gui
