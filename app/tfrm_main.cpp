#include "app/tfrm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QInputDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractSpinBox>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QSocketNotifier>
#include <QTableWidget>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <exception>

#include "app/hotkey_codes.h"
#include "app/hotkey_edit.h"
#include "app/ladder_view.h"
#include "app/tool_images.h"
#include "core/session.h"
#include "ladder/price_text.h"
#include "secs/security_list.h"
#include "settings/tick_period.h"
#include "ladder/ladder_refresh.h"
#include "platform/message_sink.h"
#include "settings/settings.h"
#include "terminal/quote_discovery.h"

namespace velmora {

const char* const TfrmMain::HomePageAddress = "https://velmora.example.org/";

QFont TfrmMain::designFont() { return QFont(QStringLiteral("MS Sans Serif"), 8); }

TfrmMain::TfrmMain(Session& session, StartUp startUp, QWidget* parent)
    : QWidget(parent), session_(session), fontDialogFont_(designFont()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Быстрые заявки QUIK"));
    setWindowIcon(programIcon());
    setFont(designFont());
    buildActions();
    buildLayout();
    wireActions();
    resize(500, 750);

    tmrRefreshDOM_ = new QTimer(this);
    tmrRefreshDOM_->setObjectName(QStringLiteral("tmrRefreshDOM"));
    tmrRefreshDOM_->setInterval(defaultRefreshInterval);
    // A coarse timer may fire 5 % late, which at 100 ms is all of the latency's margin.
    tmrRefreshDOM_->setTimerType(Qt::PreciseTimer);
    connect(tmrRefreshDOM_, &QTimer::timeout, this, &TfrmMain::tmrRefreshDOMTimer);

    // Until the settings are applied only Ctrl+S answers. A key given to two actions answers the
    // first of them here.
    auto bound = [this](QAction* action) {
        THotKey* editor = nullptr;
        for (const HotkeyEditor& each : hotkeyEditors_)
            if (each.action == action) editor = each.editor;
        return HotkeyBinding{action, editor, 0};
    };
    hotkeys_ = {{bound(acClearAllOrders_), bound(acClearAllStops_), {acSaveCurrentSettings_, nullptr, SaveShortcut},
                 bound(acMarketBUY_), bound(acMarketPlusBuy_), bound(acMarketSell_), bound(acMarketPlusSell_),
                 bound(acCenter_), bound(acFlatten_), bound(acReverse_), bound(acResetVolume_)}};
    // A key the user gives a second action answers only one of them: say so as it is typed.
    for (const HotkeyBinding& binding : hotkeys_) {
        if (!binding.editor) continue;
        connect(binding.editor, &THotKey::codeChanged, this, [this, edited = binding](std::uint16_t code) {
            if (code == 0 || !edited.editor->hasFocus()) return;
            for (const HotkeyBinding& other : hotkeys_)
                if (other.editor && other.editor != edited.editor && other.editor->code() == code)
                    showNotice("Одна клавиша у двух действий: " + edited.action->text().toStdString() + " и " +
                               other.action->text().toStdString());
        });
    }
    qApp->installEventFilter(this);

    if (startUp == StartUp::Deferred)
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(StartUpEventType)));
}

TfrmMain::~TfrmMain() {
    // The editor loses the focus as the window's base class closes it, and its editingFinished would
    // reach a window that is no longer a TfrmMain.
    seMaxOrderQuantity_->disconnect(this);
    qApp->removeEventFilter(this);
    tmrRefreshDOM_->stop();
    shutDown();
    session_.showPendingMessages();
}

void TfrmMain::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    try {
        session_.DoneAll();
    } catch (const std::exception& error) {
        session_.showMessage(error.what());
    }
}

void TfrmMain::endSession() {
    // No box now: nobody is there to close it.
    tmrRefreshDOM_->stop();
    session_.FormClose();
    shutDown();
}

void TfrmMain::wireActions() {
    auto on = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, [this, handler] { runGuarded([this, handler] { (this->*handler)(); }); });
    };
    auto order = [this](QAction* action, std::function<void()> command) {
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    };
    order(acClearAllOrders_, [this] { session_.ClearAllOrders(*this); });
    order(acClearAllStops_, [this] { session_.ClearAllStops(); });
    on(acToLeftTop_, &TfrmMain::acToLeftTopExecute);
    on(acSwitchView_, &TfrmMain::acSwitchViewExecute);
    order(acRefreshQuoteTables_, [this] { session_.RefreshQuoteTables(*this); });
    order(acBUY_, [this] { session_.BuyAtEditorPrice(*this); });
    order(acSELL_, [this] { session_.SellAtEditorPrice(*this); });
    order(acSetStop_, [this] { session_.SetStop(*this); });
    on(acSaveCurrentSettings_, &TfrmMain::acSaveCurrentSettingsExecute);
    on(acFontEdit_, &TfrmMain::acFontEditExecute);
    on(acShowcnfDefaultView_, &TfrmMain::acShowcnfDefaultViewExecute);
    order(acMarketBUY_, [this] { session_.MarketBuy(*this); });
    order(acMarketPlusBuy_, [this] { session_.MarketPlusBuy(*this); });
    order(acMarketSell_, [this] { session_.MarketSell(*this); });
    order(acMarketPlusSell_, [this] { session_.MarketPlusSell(*this); });
    order(acCenter_, [this] { session_.CenterLadder(); });
    order(acFlatten_, [this] { session_.Flatten(*this); });
    order(acReverse_, [this] { session_.Reverse(*this); });
    order(acResetVolume_, [this] { session_.ResetVolume(); });
    on(acHomePage_, &TfrmMain::acHomePageExecute);

    connect(tbtnStayOnTop_, &QToolButton::clicked, this, [this] { runGuarded([this] { tbtnStayOnTopClick(); }); });
    connect(btnFindDomBase_, &QPushButton::clicked, this, [this] { runCommand([this] { findDomBase(); }); });
    // The short view may squeeze the ladder panel; its own width comes back with the full view.
    connect(splitter_, &QSplitter::splitterMoved, this, [this] { ladderPanelWidth_ = pnlDOM_->width(); });
    connect(pc_, &QTabWidget::currentChanged, this, [this](int) {
        // The hotkey editors are on the settings page only; the orders page keeps the hotkeys.
        if (pc_->currentWidget() == tsSettings_)
            tsSettingsShow();
        else
            tsMainShow();
    });
    connect(cbSecName_, &QComboBox::activated, this,
            [this](int) { runCommand([this] { session_.SecNameChange(*this); }); });
    wireLadder();
    connect(seDefaultLimitOrderShift_, &QSpinBox::textChanged, this,
            [this] { editSettings([this](Settings& s) { s.DefaultLimitOrderShift = limitOrderShift(); }); });
    connect(seDefaultLimitStopShift_, &QSpinBox::textChanged, this,
            [this] { editSettings([this](Settings& s) { s.DefaultLimitStopShift = limitStopShift(); }); });
    // The limit holds from the first digit; the quantity editor follows once the typing is done, so
    // typing 20 does not cut the quantity to 2 on the way.
    connect(seMaxOrderQuantity_, &QSpinBox::valueChanged, this,
            [this](int limit) { editSettings([limit](Settings& s) { s.MaxOrderQuantity = limit; }); });
    connect(seMaxOrderQuantity_, &QSpinBox::editingFinished, this,
            [this] { applyMaxOrderQuantity(seMaxOrderQuantity_->value()); });
    connect(seRefreshInterval_, &QSpinBox::valueChanged, this, [this](int milliseconds) {
        editSettings([milliseconds](Settings& s) { s.RefreshInterval = milliseconds; });
        tmrRefreshDOM_->setInterval(milliseconds);
    });
}

// The ladder's presses, drags, wheel, size and pointer, each a command of the session.
void TfrmMain::wireLadder() {
    connect(sgDOM_, &LadderView::cellPressed, this, [this](MouseButton button, bool shift, int column, int row) {
        runCommand([=, this] { session_.LadderMouseDown(*this, button, shift, column, row); });
    });
    connect(sgDOM_, &LadderView::wheelRows, this, [this](int rows) { runCommand([=, this] { session_.ScrollLadder(rows); }); });
    connect(sgDOM_, &LadderView::visibleRowsChanged, this,
            [this](int rows) { runCommand([=, this] { session_.setVisibleLadderRows(rows); }); });
    connect(sgDOM_, &LadderView::pointerOver, this,
            [this](bool over) { runCommand([=, this] { session_.setPointerOverLadder(over); }); });
    connect(sgDOM_, &LadderView::ownQuantityDragged, this, [this](int column, int fromRow, int toRow) {
        runCommand([=, this] { session_.MoveOrders(*this, column, fromRow, toRow); });
    });
}

void TfrmMain::runGuarded(const std::function<void()>& command) {
    // Start-up's wait for the terminal lets other events run inside it; only the outermost
    // command shows the boxes, once nothing below it holds anything.
    ++commandDepth_;
    // Qt cannot carry an exception through its event loop: report it and go on.
    try {
        command();
    } catch (const std::exception& error) {
        session_.showMessage(error.what());
    }
    if (--commandDepth_ > 0) return;
    session_.showPendingMessages();
    // An exit asked for by the logic comes after the box that says why.
    if (exitCode_) QCoreApplication::exit(*exitCode_);
}

void TfrmMain::runCommand(const std::function<void()>& command) {
    runGuarded(command);
    // Stops added or removed show in the ladder at once.
    ladderChanged();
}


std::string TfrmMain::infoCaption() const { return infoText_; }

void TfrmMain::setInfoCaption(const std::string& text) {
    infoText_ = text;
    const QString full = QString::fromStdString(text);
    // The terminal's text may run to hundreds of characters: what the panel cannot hold is in the tooltip.
    const std::optional<QString> cut = elidedToLines(full, *pnlInfo_, infoPanelLines);
    pnlInfo_->setText(cut.value_or(full));
    pnlInfo_->setToolTip(cut ? full : QString());
    // A rejection's text or several start-up notices take more lines than the design's two:
    // the panel grows to hold them, never shrinking below the design.
    const int needed = pnlInfo_->heightForWidth(pnlInfo_->width());
    pnlInfo_->resize(pnlInfo_->width(), std::max(41, needed + 2 * pnlInfo_->frameWidth()));
}

std::optional<QString> TfrmMain::elidedToLines(const QString& text, const QLabel& label, int maxLines) {
    const QFontMetrics metrics(label.font());
    // A pixel or two to spare, so that the label wraps the lines where they were measured.
    const int width = std::max(1, label.contentsRect().width() - 4);
    QStringList lines;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs[p];
        QTextLayout layout(paragraph, label.font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (lines.size() == maxLines) {
                // The last line the panel holds takes the rest, elided.
                QString rest = lines.takeLast() + QLatin1Char(' ') + paragraph.mid(line.textStart());
                for (qsizetype q = p + 1; q < paragraphs.size(); ++q) rest += QLatin1Char(' ') + paragraphs[q];
                layout.endLayout();
                lines << metrics.elidedText(rest.simplified(), Qt::ElideRight, width);
                return lines.join(QLatin1Char('\n'));
            }
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return std::nullopt;
}

void TfrmMain::setInfoVisible(bool visible) {
    pnlInfo_->setVisible(visible);
    if (visible) pnlInfo_->raise();
}

void TfrmMain::processPendingEvents() { QCoreApplication::processEvents(); }

void TfrmMain::pause(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void TfrmMain::setInstrumentItems(const std::vector<InstrumentItem>& sortedItems, int selectedIndex) {
    const QSignalBlocker blocker(cbSecName_);
    cbSecName_->clear();
    for (const InstrumentItem& item : sortedItems)
        cbSecName_->addItem(QString::fromStdString(item.ticker), item.tablePosition);
    cbSecName_->setCurrentIndex(selectedIndex < cbSecName_->count() ? selectedIndex : -1);
}

std::vector<InstrumentItem> TfrmMain::instrumentItems() const {
    std::vector<InstrumentItem> items;
    items.reserve(static_cast<std::size_t>(cbSecName_->count()));
    for (int i = 0; i < cbSecName_->count(); ++i)
        items.push_back({cbSecName_->itemText(i).toStdString(), cbSecName_->itemData(i).toInt()});
    return items;
}

int TfrmMain::selectedInstrumentIndex() const { return cbSecName_->currentIndex(); }

void TfrmMain::selectInstrument(int index) {
    const QSignalBlocker blocker(cbSecName_);
    cbSecName_->setCurrentIndex(index < cbSecName_->count() ? index : -1);
}

std::string TfrmMain::priceText() const { return lePrice_->text().toStdString(); }

void TfrmMain::setPriceText(const std::string& text) { lePrice_->setText(QString::fromStdString(text)); }

int TfrmMain::spinValue(const QSpinBox* editor) const {
    bool isNumber = false;
    const int value = editor->text().toInt(&isNumber);
    // A "0" or "-" still being typed is below the range the editor will show once it loses the
    // focus: never QUANTITY=0. Above the range the quantity guard speaks.
    return isNumber ? std::max(value, editor->minimum()) : editor->minimum();
}

int TfrmMain::contractCount() const { return spinValue(seContractCnt_); }
int TfrmMain::limitOrderShift() const { return spinValue(seDefaultLimitOrderShift_); }
int TfrmMain::limitStopShift() const { return spinValue(seDefaultLimitStopShift_); }

// A window saved on a monitor since unplugged, or with no size, would be one the user cannot reach.
void TfrmMain::keepWindowOnAScreen(Settings& s) {
    auto fallBack = [this, &s](const char* key, std::int32_t& field, std::int32_t value) {
        if (s.positionKeyAbsent(key))
            session_.log().LogMessage("[POSITION] " + std::string(key) + " missing: " + std::to_string(value) + " used",
                                    3);
        else
            session_.log().LogMessage("[POSITION] " + std::string(key) + "=" + std::to_string(field) +
                                        " leaves no window: " + std::to_string(value) + " used",
                                    1);
        field = value;
    };
    if (s.Height <= 0) fallBack("Height", s.Height, 750);
    if (s.FullWidth <= 0) fallBack("FullWidth", s.FullWidth, 500);
    if (s.ShortWidth <= 0) fallBack("ShortWidth", s.ShortWidth, 255);
    const QRect wanted(s.Left, s.Top, s.DefaultFullView ? s.FullWidth : s.ShortWidth, s.Height);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shared = screen->availableGeometry().intersected(wanted);
        // Enough of the title bar to take hold of.
        if (shared.width() >= 50 && shared.height() >= 20) return;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return;
    const QPoint corner = primary->availableGeometry().topLeft() + QPoint(100, 100);
    session_.log().LogMessage("[POSITION] Left=" + std::to_string(s.Left) + " Top=" + std::to_string(s.Top) +
                                " is on no screen: " + std::to_string(corner.x()) + ", " + std::to_string(corner.y()) +
                                " used",
                            1);
    s.Left = corner.x();
    s.Top = corner.y();
}

void TfrmMain::editSettings(const std::function<void(Settings&)>& edit) {
    Settings edited = session_.settings();
    edit(edited);
    session_.applySettings(edited);
}

void TfrmMain::ApplySettingsToWindow() {
    if (session_.settings().DefaultStayOnTop) tbtnStayOnTopClick();
    editSettings([this](Settings& fixed) { keepWindowOnAScreen(fixed); });
    const Settings& s = session_.settings();
    resizeOuter(frameGeometry().width(), s.Height);
    moveOuter(s.Left, s.Top);
    const int panelWidth = s.DOMPanelWidth;
    ladderPanelWidth_ = panelWidth;
    acShowcnfDefaultViewExecute();
    splitter_->setSizes({panelWidth, std::max(0, width() - panelWidth - splitter_->handleWidth())});

    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        sgDOM_->setColumnWidth(column, std::max(0, s.*ladderColumnWidthKeys[column].field));
    // Only the script tells the market's trades.
    const bool tape = session_.books().tellsTape();
    sgDOM_->setColumnHidden(LadderGrid::Volume, !tape);
    acResetVolume_->setEnabled(tape);
    if (auto* button = findChild<QToolButton*>(QStringLiteral("sbtnResetVolume"))) button->setVisible(tape);
    session_.setLadderRows(s.DOMRowCount);
    sgDOM_->setPricesMode(s.ladderMode == LadderMode::Prices);
    ladderChanged();

    QFont ladderFont = sgDOM_->font();
    if (s.DOMFontSize > 0) ladderFont.setPointSize(s.DOMFontSize);
    if (s.DOMFontSize < 0) ladderFont.setPixelSize(-s.DOMFontSize);
    ladderFont.setFamily(QString::fromStdString(s.DomFontName));
    sgDOM_->setFont(ladderFont);

    pnlInfo_->setGeometry(sgDOM_->x(), pnlInfo_->y(), panelWidth, pnlInfo_->height());

    const int rowHeight = std::max(0, s.DOMRowHeight);
    sgDOM_->verticalHeader()->setDefaultSectionSize(rowHeight);
    for (int row = 0; row < session_.ladder().rowCount(); ++row) sgDOM_->setRowHeight(row, rowHeight);

    selectInstrument(cbSecName_->findText(QString::fromStdString(s.DefaultContract)));
    seMaxOrderQuantity_->setValue(std::max(0, s.MaxOrderQuantity));
    applyMaxOrderQuantity(std::max(0, s.MaxOrderQuantity));
    seContractCnt_->setValue(s.DefaultContractCnt);
    seDefaultLimitOrderShift_->setValue(s.DefaultLimitOrderShift);
    seDefaultLimitStopShift_->setValue(s.DefaultLimitStopShift);
    seRefreshInterval_->setValue(s.RefreshInterval);
    tmrRefreshDOM_->setInterval(s.RefreshInterval);

    for (std::size_t i = 0; i < std::size(hotkeyKeys); ++i)
        hotkeyEditors_[i].editor->setCode(static_cast<std::uint16_t>(s.*hotkeyKeys[i].field));
    settingsShown_ = true;
    tsMainShow();
}

void TfrmMain::CollectWindowSettings() { editSettings([this](Settings& s) { collectWindowSettings(s); }); }

void TfrmMain::collectWindowSettings(Settings& s) const {
    const QRect outer = frameGeometry();
    s.Left = outer.x();
    s.Top = outer.y();
    s.Height = outer.height();
    (s.DefaultFullView ? s.FullWidth : s.ShortWidth) = outer.width();
    s.DOMPanelWidth = ladderPanelWidth_;
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        if (!sgDOM_->isColumnHidden(column)) s.*ladderColumnWidthKeys[column].field = sgDOM_->columnWidth(column);
    s.DOMRowCount = session_.ladder().rowCount();
    const QFont ladderFont = sgDOM_->font();
    s.DOMFontSize = ladderFont.pointSize() > 0 ? ladderFont.pointSize() : -ladderFont.pixelSize();
    s.DomFontName = ladderFont.family().toStdString();
    s.DOMRowHeight = session_.ladder().rowCount() > 0 ? sgDOM_->rowHeight(0)
                                                    : sgDOM_->verticalHeader()->defaultSectionSize();
    const QString contract = cbSecName_->currentText();
    if (!contract.isEmpty()) s.DefaultContract = contract.toStdString();
    s.DefaultContractCnt = contractCount();
    s.DefaultStayOnTop = isTopmost();
    for (std::size_t i = 0; i < std::size(hotkeyKeys); ++i) s.*hotkeyKeys[i].field = hotkeyEditors_[i].editor->code();
}

void TfrmMain::WriteLadderHeader() {
    session_.setLadderHeader({"свой", "к.прод", "цена", "к.куп", "свой", "стоп", "объём"});
    ladderChanged();
}

void TfrmMain::setRefreshTimerEnabled(bool enabled) {
    if (enabled)
        tmrRefreshDOM_->start();
    else
        tmrRefreshDOM_->stop();
}

void TfrmMain::showOwnOrders(const std::vector<OwnOrder>& orders) {
    const TSecShareRecord* security = session_.shownInstrument();
    const std::uint32_t decimals = security ? security->Decimals : 0;
    const char separator = session_.log().locale().decimalSeparator();
    sgOrders_->setRowCount(static_cast<int>(orders.size()));
    auto put = [this](int row, int column, const std::string& text) {
        auto* item = new QTableWidgetItem(QString::fromStdString(text));
        item->setTextAlignment(column == 0 ? Qt::AlignCenter : Qt::AlignRight | Qt::AlignVCenter);
        sgOrders_->setItem(row, column, item);
    };
    for (int row = 0; row < static_cast<int>(orders.size()); ++row) {
        const OwnOrder& order = orders[static_cast<std::size_t>(row)];
        put(row, 0, order.side == Side::Buy ? "Куп" : "Прод");
        put(row, 1, PriceText(order.price, decimals, separator));
        put(row, 2, std::to_string(order.quantity));
        put(row, 3, std::to_string(order.balance));
        put(row, 4, std::to_string(order.number));
    }
}

void TfrmMain::ladderChanged() {
    static constexpr LadderView::Away marks[] = {LadderView::Away::None, LadderView::Away::Above,
                                                 LadderView::Away::Below};
    sgDOM_->setAwayMarker(marks[static_cast<int>(session_.ladderAway())]);
    session_.takeLadderChanges(ladderChanges_);
    if (sgDOM_->showChanges(ladderChanges_)) fitLadderPanel();
    for (const PendingQuantity& rejected : session_.takeRejections()) sgDOM_->flashPrice(rejected.price);
}

// A column widened for its texts must not push the stop column out of sight: the panel grows to
// hold all six, the page control beside it (or, in the short view, the window) giving the room.
void TfrmMain::fitLadderPanel() {
    // A hidden window's widgets have not been laid out: their widths say nothing yet.
    if (!sgDOM_->isVisible()) return;
    int needed = 2 * sgDOM_->frameWidth();
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        if (!sgDOM_->isColumnHidden(column)) needed += sgDOM_->columnWidth(column);
    if (sgDOM_->verticalScrollBar()->isVisible()) needed += sgDOM_->verticalScrollBar()->width();
    const int shortBy = needed - sgDOM_->width();
    if (shortBy <= 0) return;
    const int panelWidth = pnlDOM_->width() + shortBy;
    const int room = splitter_->width() - panelWidth - splitter_->handleWidth();
    if (room < 0) {
        resize(width() - room, height());
        layout()->activate();
    }
    ladderPanelWidth_ = panelWidth;
    splitter_->setSizes({panelWidth, std::max(0, splitter_->width() - panelWidth - splitter_->handleWidth())});
}

void TfrmMain::setLadderLive(bool live) {
    if (sgDOM_->live() == live) return;
    sgDOM_->setLive(live);
    // A position read before the link was lost may no longer be the terminal's.
    lblPosition_->setEnabled(live);
}

void TfrmMain::applyMaxOrderQuantity(int limit) {
    editSettings([limit](Settings& s) { s.MaxOrderQuantity = limit; });
    // No more lots can be chosen than may be sent.
    seContractCnt_->setMaximum(limit > 0 ? limit : 1000000000);
}

void TfrmMain::quit(int exitCode) { exitCode_ = exitCode; }


bool TfrmMain::isTopmost() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

void TfrmMain::setTopmost(bool topmost) {
    const bool wasVisible = isVisible();
    const QPoint position = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    // Changing the flags hides a window; bring it back where it was.
    if (wasVisible) {
        move(position);
        show();
    }
}

void TfrmMain::tbtnStayOnTopClick() {
    const bool topmost = !isTopmost();
    tbtnStayOnTop_->setChecked(topmost);
    setTopmost(topmost);
}

void TfrmMain::acToLeftTopExecute() { moveOuter(0, 0); }

// The settings hold the outer size, frame included, as a Windows form's do, so that an
// ini written on one system opens the same window on the other.
void TfrmMain::resizeOuter(int outerWidth, int outerHeight) {
    const QSize frame = frameGeometry().size() - size();
    resize(std::max(0, outerWidth - frame.width()), std::max(0, outerHeight - frame.height()));
    // Before the window is shown, and under a window manager until it has put its frame around the
    // window, the frame is not known: taking it as none would grow the saved window by the frame on
    // every start and save. The size is set again once the frame is there.
    if (frame.isNull())
        unframedOuter_ = QRect(unframedOuter_ ? unframedOuter_->topLeft() : frameGeometry().topLeft(),
                               QSize(outerWidth, outerHeight));
    else
        unframedOuter_.reset();
}

void TfrmMain::moveOuter(int left, int top) {
    move(left, top);
    if (unframedOuter_) unframedOuter_->moveTopLeft(QPoint(left, top));
}

void TfrmMain::applyOuterOnceFramed() {
    if (!unframedOuter_ || !isVisible()) return;
    const QSize frame = frameGeometry().size() - size();
    if (frame.isNull()) return;
    const QRect outer = *unframedOuter_;
    unframedOuter_.reset();
    resize(std::max(0, outer.width() - frame.width()), std::max(0, outer.height() - frame.height()));
    if (frameGeometry().topLeft() != outer.topLeft()) move(outer.topLeft());
}

void TfrmMain::acSaveCurrentSettingsExecute() {
    if (!settingsShown_) {
        session_.log().LogMessage("settings not saved: start-up has not applied them to the window yet", 1);
        showNotice("Настройки не сохранены: программа ещё не загрузила их");
        return;
    }
    CollectWindowSettings();
    session_.saveSettings();  // a failure throws past the notice to its box
    showNotice("Настройки сохранены");
}

// A short word in the panel that goes by itself: what the panel said before (a lost terminal, say)
// comes back, unless another notice has taken its place meanwhile.
void TfrmMain::showNotice(const std::string& text) {
    panel_.post(PanelKind::Notice, text);
    QTimer::singleShot(2000, this, [this, text] { panel_.withdrawIf(PanelKind::Notice, text); });
}

void TfrmMain::acSwitchViewExecute() {
    editSettings([](Settings& s) { s.DefaultFullView = !s.DefaultFullView; });
    acShowcnfDefaultViewExecute();
}

void TfrmMain::acShowcnfDefaultViewExecute() {
    const Settings& s = session_.settings();
    const bool full = s.DefaultFullView;
    acSwitchView_->setIcon(toolImage(full ? ToolImage::FullView : ToolImage::ShortView));
    const int panelWidth = ladderPanelWidth_;
    const int newWidth = full ? s.FullWidth : s.ShortWidth;
    resizeOuter(newWidth, frameGeometry().height());
    splitter_->setSizes({panelWidth, std::max(0, width() - panelWidth - splitter_->handleWidth())});
}

void TfrmMain::acFontEditExecute() {
    QFontDialog dialog(fontDialogFont_, this);
    dialog.setWindowTitle(acFontEdit_->toolTip());
    if (dialog.exec() != QDialog::Accepted) return;
    fontDialogFont_ = dialog.selectedFont();
    acFontEditAccept(fontDialogFont_);
}

void TfrmMain::acFontEditAccept(const QFont& font) { sgDOM_->setFont(font); }

void TfrmMain::acHomePageExecute() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(HomePageAddress))); }

void TfrmMain::tsSettingsShow() {
    for (HotkeyBinding& binding : hotkeys_)
        if (binding.editor) binding.shortcut = 0;
}

void TfrmMain::tsMainShow() {
    for (HotkeyBinding& binding : hotkeys_)
        if (binding.editor) binding.shortcut = binding.editor->code();
}

void TfrmMain::tmrRefreshDOMTimer() {
    runGuarded([this] { session_.RefreshTick(*this); });
    const bool offered = session_.domBaseScanOffered();
    if (btnFindDomBase_->isVisible() != offered) btnFindDomBase_->setVisible(offered);
}

void TfrmMain::findDomBase() {
    if (!session_.domBaseScanOffered()) return;
    // No tick may run under the dialogs: the scan reads the process the tick would re-point.
    const bool timerWasOn = tmrRefreshDOM_->isActive();
    tmrRefreshDOM_->stop();
    // Which terminal is read, and whether it is QuikPath's: the address found is for that one.
    const QString target = QString::fromStdString(session_.domBaseScanTarget());
    QProgressDialog progress(QStringLiteral("Поиск адреса стаканов в памяти терминала...\n") + target, QString(), 0,
                             1000, this);
    progress.setWindowTitle(QStringLiteral("Найти адрес"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    const DomBaseScanResult result = session_.ScanAttachedTerminal([&progress](std::uint64_t done, std::uint64_t total) {
        progress.setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
    });
    progress.close();
    if (result.candidates.empty()) {
        showNotice("Адрес стаканов не найден");
    } else {
        QStringList items;
        for (const DomBaseCandidate& candidate : result.candidates) {
            QString tickers;
            for (std::size_t i = 0; i < candidate.tickers.size() && i < 6; ++i)
                tickers += (i ? ", " : "") + QString::fromStdString(candidate.tickers[i]);
            // The terminal keeps the real head in its program's image; a heap word only points into the chain.
            items << QStringLiteral("$%1  %2  стаканов: %3  %4")
                         .arg(QStringLiteral("%1").arg(candidate.base, 8, 16, QLatin1Char('0')).toUpper())
                         .arg(candidate.inImage ? QStringLiteral("образ") : QStringLiteral("куча"))
                         .arg(candidate.books)
                         .arg(tickers);
        }
        QInputDialog dialog(this);
        dialog.setWindowTitle(QStringLiteral("Найти адрес"));
        dialog.setLabelText(target + QStringLiteral("\nDOMBASE для Velmora.ini (образ надёжнее кучи):"));
        dialog.setComboBoxItems(items);
        dialog.setComboBoxEditable(false);
        dialog.setCancelButtonText(QStringLiteral("Отмена"));
        const auto index = dialog.exec() == QDialog::Accepted ? items.indexOf(dialog.textValue()) : -1;
        if (index >= 0) session_.UseDomBase(result.candidates[static_cast<std::size_t>(index)].base, *this);
    }
    if (timerWasOn) tmrRefreshDOM_->start();
}

void TfrmMain::startScriptPolling() {
    if (!session_.booksArriveBetweenTicks() || linkNotifier_ || tmrLink_) return;
    const auto poll = [this] { runGuarded([this] { session_.PollBooks(*this); }); };
    const int handle = session_.booksReadableHandle();
    if (handle >= 0) {
        linkNotifier_ = new QSocketNotifier(handle, QSocketNotifier::Read, this);
        connect(linkNotifier_, &QSocketNotifier::activated, this, poll);
        return;
    }
    // A named pipe gives the event loop nothing to wait on; a poll finds nothing in microseconds.
    tmrLink_ = new QTimer(this);
    tmrLink_->setObjectName(QStringLiteral("tmrLink"));
    tmrLink_->setInterval(2);
    tmrLink_->setTimerType(Qt::PreciseTimer);
    connect(tmrLink_, &QTimer::timeout, this, poll);
    tmrLink_->start();
}

void TfrmMain::reservePositionLine(bool reserved) {
    // Two lines: a long one (margin, profit) wraps rather than losing its end.
    const QFontMetrics metrics(lblPosition_->font());
    const QMargins margins = lblPosition_->contentsMargins();
    lblPosition_->setFixedHeight(2 * metrics.lineSpacing() + margins.top() + margins.bottom());
    lblPosition_->setVisible(reserved);
}

void TfrmMain::setPositionText(const PositionLine& line) {
    lblPosition_->setText(QString::fromStdString(line.text));
    lblPosition_->setToolTip(QString::fromStdString(line.detail));
}


bool TfrmMain::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Expose:
    case QEvent::WindowActivate:
        applyOuterOnceFramed();
        break;
    default:
        break;
    }
    if (event->type() == static_cast<QEvent::Type>(StartUpEventType)) {
        runGuarded([this] { session_.InitAll(*this); });
        startScriptPolling();
        emit startUpFinished();
        return true;
    }
    return QWidget::event(event);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    runGuarded([this] { session_.FormClose(); });
    event->accept();
}

// A character typed without Ctrl or Alt into a text or number editor is text: typing "15" with a
// hotkey "1" must give 15, not an order and a 5.
bool TfrmMain::typedIntoAnEditor(const QWidget& widget, const QKeyEvent& key) {
    const bool editor = qobject_cast<const QLineEdit*>(&widget) || qobject_cast<const QAbstractSpinBox*>(&widget) ||
                        qobject_cast<const QAbstractSpinBox*>(widget.parentWidget());
    if (!editor || qobject_cast<const THotKey*>(&widget)) return false;
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
    const QString text = key.text();
    return !text.isEmpty() && text.at(0).isPrint();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    const bool shortcutOverride = event->type() == QEvent::ShortcutOverride;
    if ((!shortcutOverride && event->type() != QEvent::KeyPress) || !isActiveWindow())
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    const std::uint16_t code = hotkeyFromKeyEvent(*key);
    if (code == 0 || typedIntoAnEditor(*widget, *key)) return QWidget::eventFilter(watched, event);
    for (const HotkeyBinding& binding : hotkeys_) {
        if (binding.shortcut != code) continue;
        if (shortcutOverride) {
            // Claim the key so that no shortcut of a child control takes it first.
            key->accept();
            return true;
        }
        // A held key repeats; an order goes out once per press.
        if (!key->isAutoRepeat()) binding.action->trigger();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velmora
