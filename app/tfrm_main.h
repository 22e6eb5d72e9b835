#pragma once
#include <QFont>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/main_view.h"
#include "ladder/ladder_grid.h"
#include "orders/order_entry.h"
#include "settings/info_panel.h"
#include "settings/settings.h"

class QAction;
class QKeyEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QSocketNotifier;
class QSplitter;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimer;
class QToolButton;

namespace velmora {

class Session;
class LadderView;
class THotKey;

// The program's one window. It shows what the logic holds and turns the user's
// clicks, keys and the refresh timer into calls of the logic.
class TfrmMain : public QWidget, public MainView, public PanelDisplay {
    Q_OBJECT
public:
    // Deferred posts the start-up event to the window itself, so InitAll runs once from
    // the event loop. Skipped leaves start-up to the caller (tests build the program's
    // lists themselves).
    enum class StartUp { Deferred, Skipped };

    static constexpr int StartUpEventType = 2025;
    static constexpr std::uint16_t SaveShortcut = 16467;  // Ctrl+S
    // Opened by acHomePage; the example.org name is reserved, so no stranger's site opens
    // until the project has an address of its own.
    static const char* const HomePageAddress;

    explicit TfrmMain(Session& session, StartUp startUp = StartUp::Deferred, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // MainView
    void post(PanelKind kind, const std::string& text) override { panel_.post(kind, text); }
    void withdraw(PanelKind kind) override { panel_.withdraw(kind); }
    void showNotice(const std::string& text) override;
    // pnlInfo itself, as the panel's owner draws on it.
    std::string infoCaption() const;
    void setInfoCaption(const std::string& text) override;
    void setInfoVisible(bool visible) override;
    void processPendingEvents() override;
    void pause(int milliseconds) override;
    void setInstrumentItems(const std::vector<InstrumentItem>& sortedItems, int selectedIndex) override;
    std::vector<InstrumentItem> instrumentItems() const override;
    int selectedInstrumentIndex() const override;
    std::string priceText() const override;
    void setPriceText(const std::string& text) override;
    int contractCount() const override;
    int limitOrderShift() const override;
    int limitStopShift() const override;
    void ApplySettingsToWindow() override;
    void WriteLadderHeader() override;
    void setRefreshTimerEnabled(bool enabled) override;
    void ladderChanged() override;
    void showOwnOrders(const std::vector<OwnOrder>& orders) override;
    void setLadderLive(bool live) override;
    void reservePositionLine(bool reserved) override;
    void setPositionText(const PositionLine& line) override;
    void quit(int exitCode) override;

    // The system ends the session: the process may end as soon as this returns, so what the
    // window's close and destruction do happens now. Once.
    void endSession();

    // The window's geometry, font, editors and hotkeys into the session's settings.
    void CollectWindowSettings();
    bool isTopmost() const;
    // What the font dialog does when the user accepts it.
    void acFontEditAccept(const QFont& font);

signals:
    // Start-up has run (whatever its outcome) and the window is the user's.
    void startUpFinished();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    static bool typedIntoAnEditor(const QWidget& widget, const QKeyEvent& key);

private:
    void shutDown();
    void selectInstrument(int index);
    struct HotkeyBinding {
        QAction* action;
        THotKey* editor;  // none for the fixed Ctrl+S
        std::uint16_t shortcut;
    };
    struct HotkeyEditor {
        QAction* action;
        THotKey* editor;
    };

    // The text as the label wraps it, cut to maxLines with the last one elided; none when it fits.
    static std::optional<QString> elidedToLines(const QString& text, const QLabel& label, int maxLines);
    // The window's font as designed; the font dialog starts from it too.
    static QFont designFont();
    void buildActions();
    void buildLayout();
    void buildToolBar();
    void buildLadderPanel();
    void buildPages();
    QWidget* buildMainTab();
    QWidget* buildOrdersTab();
    QWidget* buildSettingsTab();
    void wireActions();
    void wireLadder();

    QAction* makeAction(const char* name, const QString& caption, const QString& hint);
    enum class ButtonFace { Image, Caption };
    QToolButton* actionButton(QAction* action, const char* name, int width, ButtonFace face);
    void runGuarded(const std::function<void()>& command);
    void runCommand(const std::function<void()>& command);
    // "Найти адрес": the DOMBASE scan with its progress, then the user's pick of its candidates.
    void findDomBase();
    void keepWindowOnAScreen(Settings& settings);
    void collectWindowSettings(Settings& s) const;
    // The session's settings with one edit of the window's made.
    void editSettings(const std::function<void(Settings&)>& edit);
    void fitLadderPanel();

    void acToLeftTopExecute();
    void acSaveCurrentSettingsExecute();

    void acFontEditExecute();
    void acSwitchViewExecute();
    void acShowcnfDefaultViewExecute();
    void tbtnStayOnTopClick();
    void tsSettingsShow();
    void tsMainShow();
    void acHomePageExecute();
    void tmrRefreshDOMTimer();
    void startScriptPolling();
    void setTopmost(bool topmost);
    void resizeOuter(int outerWidth, int outerHeight);
    void moveOuter(int left, int top);
    void applyOuterOnceFramed();
    int spinValue(const QSpinBox* editor) const;
    void applyMaxOrderQuantity(int limit);

    Session& session_;
    int commandDepth_ = 0;
    std::optional<int> exitCode_;
    QFont fontDialogFont_;
    int ladderPanelWidth_ = 250;
    // The outer geometry asked for while the window had no frame yet.
    std::optional<QRect> unframedOuter_;
    // Until start-up has put the loaded settings into the editors, they hold their initial values
    // (Alt+A hotkeys, a 0,0 corner), and a save would write those over the user's settings.
    bool settingsShown_ = false;
    bool shutDown_ = false;

    QAction* acClearAllOrders_ = nullptr;
    QAction* acClearAllStops_ = nullptr;
    QAction* acToLeftTop_ = nullptr;
    QAction* acSwitchView_ = nullptr;
    QAction* acRefreshQuoteTables_ = nullptr;
    QAction* acBUY_ = nullptr;
    QAction* acSELL_ = nullptr;
    QAction* acSetStop_ = nullptr;
    QAction* acSaveCurrentSettings_ = nullptr;
    QAction* acFontEdit_ = nullptr;
    QAction* acShowcnfDefaultView_ = nullptr;
    QAction* acMarketBUY_ = nullptr;
    QAction* acMarketPlusBuy_ = nullptr;
    QAction* acMarketSell_ = nullptr;
    QAction* acMarketPlusSell_ = nullptr;
    QAction* acHomePage_ = nullptr;
    QAction* acCenter_ = nullptr;
    QAction* acFlatten_ = nullptr;
    QAction* acReverse_ = nullptr;
    QAction* acResetVolume_ = nullptr;

    QWidget* tb_ = nullptr;
    QToolButton* tbtnStayOnTop_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QWidget* pnlDOM_ = nullptr;
    LadderView* sgDOM_ = nullptr;
    std::vector<LadderGrid::CellRef> ladderChanges_;
    QLabel* pnlInfo_ = nullptr;
    InfoPanelOwner panel_{*this};
    static constexpr int infoPanelLines = 3;
    std::string infoText_;  // in full; the panel may show it elided
    QPushButton* btnFindDomBase_ = nullptr;
    QTabWidget* pc_ = nullptr;
    QWidget* tsOrders_ = nullptr;
    QTableWidget* sgOrders_ = nullptr;
    QWidget* tsMain_ = nullptr;
    QWidget* tsSettings_ = nullptr;
    QComboBox* cbSecName_ = nullptr;
    QSpinBox* seContractCnt_ = nullptr;
    QLineEdit* lePrice_ = nullptr;
    QSpinBox* seDefaultLimitOrderShift_ = nullptr;
    QSpinBox* seDefaultLimitStopShift_ = nullptr;
    QSpinBox* seMaxOrderQuantity_ = nullptr;
    QSpinBox* seRefreshInterval_ = nullptr;
    // One per hotkeyKeys entry, in its order.
    std::array<HotkeyEditor, std::size(hotkeyKeys)> hotkeyEditors_{};
    QTimer* tmrRefreshDOM_ = nullptr;
    QLabel* lblPosition_ = nullptr;
    // Mode SCRIPT: the link read as soon as bytes come (Linux), or every 2 ms (Windows).
    QSocketNotifier* linkNotifier_ = nullptr;
    QTimer* tmrLink_ = nullptr;

    // In action-list order: the first whose shortcut matches a key press runs.
    std::array<HotkeyBinding, 11> hotkeys_{};
};

}  // namespace velmora
