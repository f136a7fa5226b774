#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

#include "core/Ui.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
class QTreeWidget;

namespace kv::gui {

class ClickImage;
class ClickLabel;
class HoverPanel;

// One row of the controller grid as the window shows it.
struct GridRowText {
    bool checked = false;
    QStringList cells;  // the five text columns
};

// MainWindow: the main window. A frameless black window with its own title band, the
// FIND / UPGRADE / ABOUT buttons, the device lists, the "Device Properties" and
// "Communication" boxes, the controller grid, the busy overlay and the status line.
// It only draws and reports the operator's actions as signals; the procedures run on
// the engine.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 820;
    static constexpr int kClientHeight = 771;
    static constexpr int kFrameWidth = 2;
    static constexpr int kBusyInterval = 2500;  // ms, Timer1
    static constexpr int kStatusTextWidth = 200;
    static constexpr int kStatusProgressWidth = 50;
    static constexpr int kStatusHeight = 16;
    // The progress bar leaves this much of its status panel free on the right.
    static constexpr int kProgressBarInset = 15;

    explicit MainWindow(QWidget* parent = nullptr);

    // Parent of every region; the region coordinates count from its top-left corner.
    QWidget* content() const { return content_; }

    // Elements, under the names the procedures use for them.
    QWidget* LogoBox = nullptr;
    QWidget* TitleBand = nullptr;
    QLabel* TitleLabel = nullptr;
    ClickLabel* Label12 = nullptr;  // close mark "X"
    QWidget* Spacer = nullptr;
    HoverPanel* Panel2 = nullptr;  // FIND
    HoverPanel* Panel1 = nullptr;  // UPGRADE
    ClickImage* Image9 = nullptr;  // UPGRADE picture, takes the clicks
    HoverPanel* Panel7 = nullptr;  // ABOUT
    QWidget* WorkArea = nullptr;
    QPushButton* Button1 = nullptr;  // "Add IP"
    QWidget* LowerBand = nullptr;
    QGroupBox* EthernetBox = nullptr;
    QGroupBox* ComBox = nullptr;
    QGroupBox* UsbBox = nullptr;
    QGroupBox* PropertiesBox = nullptr;
    QGroupBox* CommunicationBox = nullptr;
    QTreeWidget* TreeView1 = nullptr;  // network devices
    QTreeWidget* TreeView2 = nullptr;  // COM ports
    QTreeWidget* USBView = nullptr;  // USB devices
    QLabel* Label6 = nullptr;        // device name
    QLabel* Label4 = nullptr;        // serial number
    QLabel* Label8 = nullptr;        // IP address
    QLabel* Label2 = nullptr;        // MAC address
    QCheckBox* CheckBox1 = nullptr;  // quick bootload
    QPlainTextEdit* UDPMemo = nullptr;  // the "Communication" memo
    QTableWidget* StringGrid1 = nullptr;  // check column
    QTableWidget* StringGrid3 = nullptr;  // header row
    QTableWidget* StringGrid2 = nullptr;  // controller rows
    QLabel* Panel8 = nullptr;             // busy overlay
    QTimer* Timer1 = nullptr;  // hides the busy overlay
    QWidget* StatusBar1 = nullptr;
    QLabel* StatusText = nullptr;      // first status panel
    QWidget* ProgressPanel = nullptr;  // second status panel
    QProgressBar* ProgressBar1 = nullptr;
    QMenu* PopupMenu1 = nullptr;  // the "Handle as" menu

    // Display operations; GUI thread only.
    void showControllerRows(const QList<GridRowText>& rows);
    void showTreeEntries(QTreeWidget* tree, const QStringList& entries);
    // Rows of product name, serial number and hidden index.
    void showUsbRows(const QList<QStringList>& rows);
    void showDeviceProperties(const QString& name, const QString& serial, const QString& ip,
                              const QString& mac);
    void showProgress(int position, int maximum);
    void enableElement(UiElement element, bool enabled);
    void restartBusyTimer();
    // The close query agreed: the next close really closes the window.
    void allowClose() { closeAllowed_ = true; }

    // Index of the selected root entry of a list, -1 when none is selected.
    static int selectedIndex(const QTreeWidget* tree);

  signals:
    void findClicked();                    // Panel2Click
    void upgradeClicked();                 // Image9Click
    void aboutClicked();                   // Panel7Click
    void addIpClicked();                   // Button1Click
    void networkDoubleClicked(int index);  // TreeView1DblClick
    void comDoubleClicked(int index);      // TreeView2DblClick
    void usbDoubleClicked(int row);        // USBViewDblClick
    // PopupMenu1: entry in menu order, with the selected entries of both lists.
    void handleAsChosen(int entry, int networkIndex, int comIndex);
    void checkCellReleased(int row);             // StringGrid1MouseUp
    void fileCellReleased(int column, int row);  // StringGrid2MouseUp
    // Label12Click, or a close asked for by the window system: the close query decides.
    void closeRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildTitleArea();
    void buildButtons();
    void buildWorkArea();
    void buildPropertiesAndMemo();
    void buildControllerGrid();
    void buildBusyOverlay();
    void buildStatusBar();
    void buildPopupMenu();
    void layoutControllerGrid(int rows);
    void openPopupMenu(const QPoint& globalPos);

    QWidget* content_ = nullptr;
    bool closeAllowed_ = false;
};

}  // namespace kv::gui
