#include "app/tfrm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFontDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <exception>

#include "app/hotkey_codes.h"
#include "app/hotkey_edit.h"
#include "app/ladder_delegate.h"
#include "app/ladder_model.h"
#include "app/ladder_view.h"
#include "app/tool_images.h"
#include "core/program.h"
#include "core/startup.h"
#include "ladder/ladder_refresh.h"
#include "platform/message_sink.h"
#include "settings/settings.h"
#include "terminal/quote_discovery.h"

namespace velmora {

const char* const TfrmMain::HomePageAddress = "https://velmora.example.org/";

namespace {

constexpr int ToolBarHeight = 29;
constexpr int RefreshInterval = 100;

QFont designFont() { return QFont(QStringLiteral("MS Sans Serif"), 8); }

// A tool bar of fixed-width buttons. A plain row rather than QToolBar: the designed
// widths fill the ladder's bar exactly, and QToolBar's own padding would fold the
// last button into an overflow menu.
QWidget* makeToolBar(QWidget* parent, const char* name) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setFixedHeight(ToolBarHeight);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(0);
    return bar;
}

void addToBar(QWidget* bar, QToolButton* button) {
    button->setAutoRaise(true);
    bar->layout()->addWidget(button);
}

void addSeparator(QWidget* bar) {
    auto* line = new QFrame(bar);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedWidth(8);
    bar->layout()->addWidget(line);
}

void endBar(QWidget* bar) { static_cast<QHBoxLayout*>(bar->layout())->addStretch(1); }

QLabel* placeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->adjustSize();
    label->move(x, y);
    return label;
}

QSpinBox* placeSpin(QWidget* parent, const char* name, int minimum, int maximum, int x, int y) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(minimum, maximum);
    spin->setValue(1);
    spin->setGeometry(x, y, 177, 21);
    return spin;
}

}  // namespace

TfrmMain::TfrmMain(Program& program, StartUp startUp, QWidget* parent)
    : QWidget(parent), program_(program), fontDialogFont_(designFont()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Быстрые заявки QUIK"));
    setWindowIcon(windowIcon());
    setFont(designFont());
    buildActions();
    buildLayout();
    wireActions();
    resize(500, 750);

    tmrRefreshDOM_ = new QTimer(this);
    tmrRefreshDOM_->setObjectName(QStringLiteral("tmrRefreshDOM"));
    tmrRefreshDOM_->setInterval(RefreshInterval);
    connect(tmrRefreshDOM_, &QTimer::timeout, this, &TfrmMain::tmrRefreshDOMTimer);

    // Until the settings are applied only Ctrl+S answers.
    hotkeys_ = {{{acClearAllOrders_, hkClearAllOrders_, 0},
                 {acClearAllStops_, hkClearAllStopOrders_, 0},
                 {acSaveCurrentSettings_, nullptr, SaveShortcut},
                 {acMarketBUY_, hkMarketBuy_, 0},
                 {acMarketPlusBuy_, hkMarketPlusBuy_, 0},
                 {acMarketSell_, hkMarketSell_, 0},
                 {acMarketPlusSell_, hkMarketPlusSell_, 0}}};
    qApp->installEventFilter(this);

    if (startUp == StartUp::Deferred)
        QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(StartUpEventType)));
}

TfrmMain::~TfrmMain() {
    qApp->removeEventFilter(this);
    tmrRefreshDOM_->stop();
    try {
        DoneAll(program_);
    } catch (const std::exception& error) {
        program_.platform.messages.show(error.what());
    }
}

QAction* TfrmMain::makeAction(const char* name, const QString& caption, const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(hint);
    action->setStatusTip(hint);
    return action;
}

void TfrmMain::buildActions() {
    acClearAllOrders_ = makeAction("acClearAllOrders", "Снять все заявки", "Снять все заявки");
    acClearAllStops_ = makeAction("acClearAllStops", "Снять все стопы", "Снять все стопы");
    acToLeftTop_ = makeAction("acToLeftTop", "В верхний левый угол", "В верхний левый угол");
    acToLeftTop_->setIcon(toolImage(ToolImage::ToLeftTop));
    acSwitchView_ = makeAction("acSwitchView", QString(), QString());
    acSwitchView_->setIcon(toolImage(ToolImage::FullView));
    acRefreshQuoteTables_ = makeAction("acRefreshQuoteTables", "Обновить стаканы", "Обновить список стаканов");
    // No button or key: the refresh timer is its only caller.
    acRefreshDOM_ = makeAction("acRefreshDOM", QString(), QString());
    acBUY_ = makeAction("acBUY", "Купить", "Купить");
    acSELL_ = makeAction("acSELL", "Продать", "Продать");
    acSetStop_ = makeAction("acSetStop", "Стоп", QString());
    acSaveCurrentSettings_ =
        makeAction("acSaveCurrentSettings", "Сохранить текущие настройки", "Сохранить текущие настройки");
    acSaveCurrentSettings_->setIcon(toolImage(ToolImage::Save));
    acFontEdit_ = makeAction("acFontEdit", "Select &Font...", "Шрифт стакана");
    acFontEdit_->setIcon(toolImage(ToolImage::Font));
    acShowcnfDefaultView_ = makeAction("acShowcnfDefaultView", QString(), QString());
    acMarketBUY_ = makeAction("acMarketBUY", "Куп. рын.", "Купить по рынку");
    acMarketPlusBuy_ = makeAction("acMarketPlusBuy", "Куп. рын.+", "Выставить лучшую покупку");
    acMarketSell_ = makeAction("acMarketSell", "Прод. рын.", "Продать по рынку");
    acMarketPlusSell_ = makeAction("acMarketPlusSell", "Прод. рын.+", "Выставить лучшую продажу");
    acHomePage_ = makeAction("acHomePage", "На сайт программы", "На сайт программы");
    acHomePage_->setIcon(toolImage(ToolImage::HomePage));
}

QToolButton* TfrmMain::actionButton(QAction* action, const char* name, int width, bool imageOnly) {
    auto* button = new QToolButton;
    button->setObjectName(QLatin1String(name));
    button->setDefaultAction(action);
    button->setToolButtonStyle(imageOnly ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextOnly);
    if (width > 0) button->setFixedWidth(width);
    // An action without a hint shows none (Qt would fall back to the caption).
    if (action->toolTip() == action->iconText() && action->statusTip().isEmpty()) button->setToolTip(QString());
    return button;
}

void TfrmMain::buildLayout() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The saved widths may be narrower than the controls would like.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    tb_ = makeToolBar(this, "tb");
    addToBar(tb_, actionButton(acToLeftTop_, "tbTopLeft", 0, true));
    tbtnStayOnTop_ = new QToolButton;
    tbtnStayOnTop_->setObjectName(QStringLiteral("tbtnStayOnTop"));
    tbtnStayOnTop_->setIcon(toolImage(ToolImage::StayOnTop));
    tbtnStayOnTop_->setToolTip(QStringLiteral("Закрепить поверх всех окон"));
    tbtnStayOnTop_->setCheckable(true);
    addToBar(tb_, tbtnStayOnTop_);
    addToBar(tb_, actionButton(acSwitchView_, "tbSwitchView", 0, true));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acRefreshQuoteTables_, "sbtnRefreshQuikTables", 104, false));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acSaveCurrentSettings_, "tbSaveSettings", 0, true));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acHomePage_, "tbHomePage", 0, true));
    endBar(tb_);
    layout->addWidget(tb_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("Splitter1"));
    splitter_->setHandleWidth(5);
    splitter_->setChildrenCollapsible(true);
    layout->addWidget(splitter_, 1);

    pnlDOM_ = new QWidget;
    pnlDOM_->setObjectName(QStringLiteral("pnlDOM"));
    // Any saved width goes, even one narrower than the ladder's tool bar.
    pnlDOM_->setMinimumWidth(1);
    auto* domLayout = new QVBoxLayout(pnlDOM_);
    domLayout->setContentsMargins(0, 0, 0, 0);
    domLayout->setSpacing(0);
    auto* tbDOM = makeToolBar(pnlDOM_, "tbDOM");
    addToBar(tbDOM, actionButton(acClearAllOrders_, "sbtnClearAllOrders", 105, false));
    addToBar(tbDOM, actionButton(acClearAllStops_, "sbtnClearAllStops", 112, false));
    addSeparator(tbDOM);
    addToBar(tbDOM, actionButton(acFontEdit_, "tbFontEdit", 0, true));
    endBar(tbDOM);
    domLayout->addWidget(tbDOM);

    sgDOM_ = new LadderView(pnlDOM_);
    sgDOM_->setObjectName(QStringLiteral("sgDOM"));
    ladderModel_ = new LadderModel(program_.ladder, this);
    sgDOM_->setModel(ladderModel_);
    sgDOM_->setItemDelegate(new LadderDelegate(program_.ladder, sgDOM_));
    QFont ladderFont(QStringLiteral("Courier New"), 8);
    ladderFont.setStyleHint(QFont::TypeWriter);
    sgDOM_->setFont(ladderFont);
    sgDOM_->horizontalHeader()->setDefaultSectionSize(40);
    sgDOM_->verticalHeader()->setDefaultSectionSize(15);
    const int designWidths[LadderGrid::ColumnCount] = {40, 40, 40, 40, 40, 26};
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        sgDOM_->setColumnWidth(column, designWidths[column]);
    domLayout->addWidget(sgDOM_, 1);

    pnlInfo_ = new QLabel(pnlDOM_);
    pnlInfo_->setObjectName(QStringLiteral("pnlInfo"));
    pnlInfo_->setGeometry(5, 80, 233, 41);
    pnlInfo_->setAlignment(Qt::AlignCenter);
    pnlInfo_->setWordWrap(true);
    pnlInfo_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlInfo_->setAutoFillBackground(true);
    QFont infoFont = designFont();
    infoFont.setBold(true);
    pnlInfo_->setFont(infoFont);
    QPalette infoPalette = pnlInfo_->palette();
    infoPalette.setColor(QPalette::WindowText, Qt::red);
    pnlInfo_->setPalette(infoPalette);
    pnlInfo_->hide();

    pc_ = new QTabWidget;
    pc_->setObjectName(QStringLiteral("pc"));
    pc_->setMinimumWidth(1);
    tsMain_ = buildMainTab();
    tsSettings_ = buildSettingsTab();
    pc_->addTab(tsMain_, QStringLiteral("Основное"));
    pc_->addTab(tsSettings_, QStringLiteral("Настройки"));
    pc_->setCurrentWidget(tsMain_);

    splitter_->addWidget(pnlDOM_);
    splitter_->addWidget(pc_);
    // Resizing the window moves only the page control's edge; the ladder keeps its width.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({250, 245});
}

QWidget* TfrmMain::buildMainTab() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsMain"));
    placeLabel(page, "Label1", QStringLiteral("Инструмент:"), 0, 41);
    cbSecName_ = new QComboBox(page);
    cbSecName_->setObjectName(QStringLiteral("cbSecName"));
    cbSecName_->setEditable(false);
    cbSecName_->setGeometry(0, 59, 177, 21);

    placeLabel(page, "Label2", QStringLiteral("Количество контрактов:"), 0, 95);
    seContractCnt_ = placeSpin(page, "seContractCnt", 1, 1000000000, 0, 111);

    auto* priceLabel = placeLabel(page, "lePriceLabel", QStringLiteral("Цена:"), 0, 149);
    lePrice_ = new QLineEdit(page);
    lePrice_->setObjectName(QStringLiteral("lePrice"));
    lePrice_->setGeometry(0, 165, 161, 21);
    priceLabel->setBuddy(lePrice_);

    auto* sbPrice = new QWidget(page);
    sbPrice->setObjectName(QStringLiteral("sbPrice"));
    sbPrice->setGeometry(157, 166, 20, 22);
    auto* priceUp = new QToolButton(sbPrice);
    priceUp->setObjectName(QStringLiteral("sbPriceUp"));
    priceUp->setArrowType(Qt::UpArrow);
    priceUp->setGeometry(0, 0, 20, 11);
    auto* priceDown = new QToolButton(sbPrice);
    priceDown->setObjectName(QStringLiteral("sbPriceDown"));
    priceDown->setArrowType(Qt::DownArrow);
    priceDown->setGeometry(0, 11, 20, 11);
    connect(priceUp, &QToolButton::clicked, this,
            [this] { runCommand([this] { PriceStep(program_, *this, true); }); });
    connect(priceDown, &QToolButton::clicked, this,
            [this] { runCommand([this] { PriceStep(program_, *this, false); }); });

    auto place = [page, this](QAction* action, const char* name, int x, int y, int width, int height) {
        QToolButton* button = actionButton(action, name, 0, false);
        button->setParent(page);
        button->setGeometry(x, y, width, height);
    };
    place(acBUY_, "sbtnBuy", 0, 197, 58, 36);
    place(acSELL_, "sbtnSell", 60, 197, 58, 36);
    place(acSetStop_, "sbtnStop", 120, 197, 55, 36);
    place(acMarketBUY_, "sbtnMarketBuy", 0, 240, 86, 36);
    place(acMarketSell_, "sbtnMarketSell", 88, 240, 86, 36);
    place(acMarketPlusBuy_, "sbtnMarketPlusBuy", 0, 280, 86, 36);
    place(acMarketPlusSell_, "sbtnMarketPlusSell", 88, 280, 86, 36);
    sbPrice->raise();

    placeLabel(page, "Label3", QStringLiteral("Смещение цены для лим. заявок:"), 0, 338);
    seDefaultLimitOrderShift_ = placeSpin(page, "seDefaultLimitOrderShift", 0, 1000, 0, 354);
    placeLabel(page, "Label4", QStringLiteral("Смещение цены для стоп заявок:"), 0, 394);
    seDefaultLimitStopShift_ = placeSpin(page, "seDefaultLimitStopShift", 0, 1000, 0, 410);
    return page;
}

QWidget* TfrmMain::buildSettingsTab() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsSettings"));
    auto place = [page](const char* labelName, const QString& caption, const char* name, int x, int y) {
        placeLabel(page, labelName, caption, x, y);
        auto* editor = new THotKey(page);
        editor->setObjectName(QLatin1String(name));
        editor->setGeometry(x, y + 16, 90, 19);
        return editor;
    };
    hkMarketBuy_ = place("Label5", QStringLiteral("Куп. рын."), "hkMarketBuy", 12, 16);
    hkMarketSell_ = place("Label6", QStringLiteral("Прод. рын."), "hkMarketSell", 124, 16);
    hkMarketPlusBuy_ = place("Label7", QStringLiteral("Куп. рын.+"), "hkMarketPlusBuy", 12, 64);
    hkMarketPlusSell_ = place("Label8", QStringLiteral("Прод. рын.+"), "hkMarketPlusSell", 124, 64);
    hkClearAllOrders_ = place("Label11", QStringLiteral("Снять все заявки"), "hkClearAllOrders", 12, 112);
    hkClearAllStopOrders_ = place("Label12", QStringLiteral("Снять стоп-заявки"), "hkClearAllStopOrders", 124, 112);
    return page;
}

void TfrmMain::wireActions() {
    auto on = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, [this, handler] { runGuarded([this, handler] { (this->*handler)(); }); });
    };
    auto order = [this](QAction* action, std::function<void()> command) {
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    };
    order(acClearAllOrders_, [this] { ClearAllOrders(program_); });
    order(acClearAllStops_, [this] { ClearAllStops(program_); });
    on(acToLeftTop_, &TfrmMain::acToLeftTopExecute);
    on(acSwitchView_, &TfrmMain::acSwitchViewExecute);
    order(acRefreshQuoteTables_, [this] { RefreshQuoteTables(program_, *this); });
    order(acRefreshDOM_, [this] {
        if (!program_.instrumentChosen()) return;
        RefreshDOM(program_);
        ShowStopQuantities(program_);
    });
    order(acBUY_, [this] { BuyAtEditorPrice(program_, *this); });
    order(acSELL_, [this] { SellAtEditorPrice(program_, *this); });
    order(acSetStop_, [this] { SetStop(program_, *this); });
    on(acSaveCurrentSettings_, &TfrmMain::acSaveCurrentSettingsExecute);
    on(acFontEdit_, &TfrmMain::acFontEditExecute);
    on(acShowcnfDefaultView_, &TfrmMain::acShowcnfDefaultViewExecute);
    order(acMarketBUY_, [this] { MarketBuy(program_, *this); });
    order(acMarketPlusBuy_, [this] { MarketPlusBuy(program_, *this); });
    order(acMarketSell_, [this] { MarketSell(program_, *this); });
    order(acMarketPlusSell_, [this] { MarketPlusSell(program_, *this); });
    on(acHomePage_, &TfrmMain::acHomePageExecute);

    connect(tbtnStayOnTop_, &QToolButton::clicked, this, [this] { runGuarded([this] { tbtnStayOnTopClick(); }); });
    connect(pc_, &QTabWidget::currentChanged, this, [this](int) {
        if (pc_->currentWidget() == tsSettings_) tsSettingsShow();
        if (pc_->currentWidget() == tsMain_) tsMainShow();
    });
    connect(cbSecName_, &QComboBox::activated, this,
            [this](int) { runCommand([this] { SecNameChange(program_, *this); }); });
    connect(sgDOM_, &LadderView::cellPressed, this, [this](MouseButton button, bool shift, int column, int row) {
        runCommand([=, this] { LadderMouseDown(program_, *this, button, shift, column, row); });
    });
    connect(seDefaultLimitOrderShift_, &QSpinBox::textChanged, this,
            [this] { program_.settings.DefaultLimitOrderShift = limitOrderShift(); });
    connect(seDefaultLimitStopShift_, &QSpinBox::textChanged, this,
            [this] { program_.settings.DefaultLimitStopShift = limitStopShift(); });
}

void TfrmMain::runGuarded(const std::function<void()>& command) {
    // Qt cannot carry an exception through its event loop: report it and go on.
    try {
        command();
    } catch (const std::exception& error) {
        program_.platform.messages.show(error.what());
    }
}

void TfrmMain::runCommand(const std::function<void()>& command) {
    runGuarded(command);
    // Stops added or removed show in the ladder at once.
    ladderChanged();
}

// ---- MainView

std::string TfrmMain::infoCaption() const { return pnlInfo_->text().toStdString(); }

void TfrmMain::setInfoCaption(const std::string& text) { pnlInfo_->setText(QString::fromStdString(text)); }

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
    return isNumber ? value : editor->minimum();
}

int TfrmMain::contractCount() const { return spinValue(seContractCnt_); }
int TfrmMain::limitOrderShift() const { return spinValue(seDefaultLimitOrderShift_); }
int TfrmMain::limitStopShift() const { return spinValue(seDefaultLimitStopShift_); }

void TfrmMain::ApplySettingsToWindow() {
    Settings& s = program_.settings;
    if (s.DefaultStayOnTop) tbtnStayOnTopClick();
    move(s.Left, s.Top);
    resize(width(), s.Height);
    const int panelWidth = s.DOMPanelWidth;
    acShowcnfDefaultViewExecute();
    splitter_->setSizes({panelWidth, std::max(0, width() - panelWidth - splitter_->handleWidth())});

    const int widths[LadderGrid::ColumnCount] = {s.DOMCol1Width, s.DOMCol2Width, s.DOMCol3Width,
                                                 s.DOMCol4Width, s.DOMCol5Width, s.DOMCol6Width};
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        sgDOM_->setColumnWidth(column, std::max(0, widths[column]));
    program_.ladder.setRowCount(s.DOMRowCount);
    ladderChanged();

    QFont ladderFont = sgDOM_->font();
    if (s.DOMFontSize > 0) ladderFont.setPointSize(s.DOMFontSize);
    if (s.DOMFontSize < 0) ladderFont.setPixelSize(-s.DOMFontSize);
    ladderFont.setFamily(QString::fromStdString(s.DomFontName));
    sgDOM_->setFont(ladderFont);

    pnlInfo_->setGeometry(sgDOM_->x(), pnlInfo_->y(), panelWidth, pnlInfo_->height());

    const int rowHeight = std::max(0, s.DOMRowHeight);
    sgDOM_->verticalHeader()->setDefaultSectionSize(rowHeight);
    for (int row = 0; row < program_.ladder.rowCount(); ++row) sgDOM_->setRowHeight(row, rowHeight);

    selectInstrument(cbSecName_->findText(QString::fromStdString(s.DefaultContract)));
    seContractCnt_->setValue(s.DefaultContractCnt);
    seDefaultLimitOrderShift_->setValue(s.DefaultLimitOrderShift);
    seDefaultLimitStopShift_->setValue(s.DefaultLimitStopShift);

    hkMarketBuy_->setCode(static_cast<std::uint16_t>(s.MARKETBUY));
    hkMarketPlusBuy_->setCode(static_cast<std::uint16_t>(s.MARKETPLUSBUY));
    hkMarketSell_->setCode(static_cast<std::uint16_t>(s.MARKETSELL));
    hkMarketPlusSell_->setCode(static_cast<std::uint16_t>(s.MARKETPLUSSELL));
    hkClearAllOrders_->setCode(static_cast<std::uint16_t>(s.CLEARALL));
    hkClearAllStopOrders_->setCode(static_cast<std::uint16_t>(s.CLEARALLSTOPS));
    tsMainShow();
}

void TfrmMain::CollectWindowSettings() {
    Settings& s = program_.settings;
    s.Left = x();
    s.Top = y();
    s.Height = height();
    (s.DefaultFullView ? s.FullWidth : s.ShortWidth) = width();
    s.DOMPanelWidth = pnlDOM_->width();
    std::int32_t* widths[LadderGrid::ColumnCount] = {&s.DOMCol1Width, &s.DOMCol2Width, &s.DOMCol3Width,
                                                     &s.DOMCol4Width, &s.DOMCol5Width, &s.DOMCol6Width};
    for (int column = 0; column < LadderGrid::ColumnCount; ++column) *widths[column] = sgDOM_->columnWidth(column);
    s.DOMRowCount = program_.ladder.rowCount();
    const QFont ladderFont = sgDOM_->font();
    s.DOMFontSize = ladderFont.pointSize() > 0 ? ladderFont.pointSize() : -ladderFont.pixelSize();
    s.DomFontName = ladderFont.family().toStdString();
    s.DOMRowHeight = program_.ladder.rowCount() > 0 ? sgDOM_->rowHeight(0)
                                                    : sgDOM_->verticalHeader()->defaultSectionSize();
    const QString contract = cbSecName_->currentText();
    if (!contract.isEmpty()) s.DefaultContract = contract.toStdString();
    s.DefaultContractCnt = contractCount();
    s.DefaultStayOnTop = isTopmost();
    s.MARKETBUY = hkMarketBuy_->code();
    s.MARKETPLUSBUY = hkMarketPlusBuy_->code();
    s.MARKETSELL = hkMarketSell_->code();
    s.MARKETPLUSSELL = hkMarketPlusSell_->code();
    s.CLEARALL = hkClearAllOrders_->code();
    s.CLEARALLSTOPS = hkClearAllStopOrders_->code();
}

void TfrmMain::WriteLadderHeader() {
    static const char* const headers[LadderGrid::ColumnCount] = {"свой", "к.прод", "цена", "к.куп", "свой", "стоп"};
    for (int column = 0; column < LadderGrid::ColumnCount; ++column)
        program_.ladder.setCell(0, column, headers[column]);
    ladderChanged();
}

void TfrmMain::setRefreshTimerEnabled(bool enabled) {
    if (enabled)
        tmrRefreshDOM_->start();
    else
        tmrRefreshDOM_->stop();
}

void TfrmMain::ladderChanged() {
    const int rowsBefore = ladderModel_->rowCount();
    ladderModel_->takeChanges(program_.ladder);
    // New rows take the ladder's row height, not Qt's default.
    if (ladderModel_->rowCount() != rowsBefore) {
        const int rowHeight = sgDOM_->verticalHeader()->defaultSectionSize();
        for (int row = 0; row < ladderModel_->rowCount(); ++row) sgDOM_->setRowHeight(row, rowHeight);
    }
}

void TfrmMain::quit(int exitCode) { QCoreApplication::exit(exitCode); }

// ---- view commands

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

void TfrmMain::acToLeftTopExecute() { move(0, 0); }

void TfrmMain::acSaveCurrentSettingsExecute() {
    CollectWindowSettings();
    SaveConf(program_.SettingsPath, program_.settings);
}

void TfrmMain::acSwitchViewExecute() {
    program_.settings.DefaultFullView = !program_.settings.DefaultFullView;
    acShowcnfDefaultViewExecute();
}

void TfrmMain::acShowcnfDefaultViewExecute() {
    const bool full = program_.settings.DefaultFullView;
    acSwitchView_->setIcon(toolImage(full ? ToolImage::FullView : ToolImage::ShortView));
    const int panelWidth = pnlDOM_->width();
    const int newWidth = full ? program_.settings.FullWidth : program_.settings.ShortWidth;
    resize(newWidth, height());
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
    // A message box opened inside a tick lets the timer fire again; one tick at a time.
    if (tickRunning_) return;
    tickRunning_ = true;
    runGuarded([this] { RefreshTick(program_, *this); });
    tickRunning_ = false;
}

// ---- events

bool TfrmMain::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(StartUpEventType)) {
        runGuarded([this] { InitAll(program_, *this); });
        return true;
    }
    return QWidget::event(event);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    runGuarded([this] { FormClose(program_); });
    event->accept();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    const bool shortcutOverride = event->type() == QEvent::ShortcutOverride;
    if ((!shortcutOverride && event->type() != QEvent::KeyPress) || !isActiveWindow())
        return QWidget::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    const std::uint16_t code = hotkeyFromKeyEvent(*key);
    if (code == 0) return QWidget::eventFilter(watched, event);
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
