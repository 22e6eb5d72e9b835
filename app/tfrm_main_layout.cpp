#include "app/tfrm_main.h"

// Building the window's components: names, captions, hints, images, sizes.

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
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <QTableWidget>
#include <QVBoxLayout>
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
#include "settings/tick_period.h"
#include "ladder/ladder_refresh.h"
#include "platform/message_sink.h"
#include "settings/settings.h"
#include "terminal/quote_discovery.h"

namespace velmora {

namespace {

constexpr int ToolBarHeight = 29;

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
    acCenter_ = makeAction("acCenter", "Центр", "Спред в середину стакана");
    acFlatten_ = makeAction("acFlatten", "Закрыть позицию", "Снять заявки и закрыть позицию по рынку");
    acReverse_ = makeAction("acReverse", "Перевернуть", "Снять заявки и перевернуть позицию по рынку");
    acResetVolume_ = makeAction("acResetVolume", "Сброс объёма", "Начать счёт проторгованного объёма заново");
}

QToolButton* TfrmMain::actionButton(QAction* action, const char* name, int width, ButtonFace face) {
    auto* button = new QToolButton;
    button->setObjectName(QLatin1String(name));
    button->setDefaultAction(action);
    button->setToolButtonStyle(face == ButtonFace::Image ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextOnly);
    // The design's width, unless this desktop's font needs more for the caption.
    if (width > 0) button->setFixedWidth(std::max(width, button->sizeHint().width()));
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

    buildToolBar();
    layout->addWidget(tb_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("Splitter1"));
    splitter_->setHandleWidth(5);
    splitter_->setChildrenCollapsible(true);
    layout->addWidget(splitter_, 1);

    buildLadderPanel();
    buildPages();
    splitter_->addWidget(pnlDOM_);
    splitter_->addWidget(pc_);
    // Resizing the window moves only the page control's edge; the ladder keeps its width.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({250, 245});
}

void TfrmMain::buildToolBar() {
    tb_ = makeToolBar(this, "tb");
    addToBar(tb_, actionButton(acToLeftTop_, "tbTopLeft", 0, ButtonFace::Image));
    tbtnStayOnTop_ = new QToolButton;
    tbtnStayOnTop_->setObjectName(QStringLiteral("tbtnStayOnTop"));
    tbtnStayOnTop_->setIcon(toolImage(ToolImage::StayOnTop));
    tbtnStayOnTop_->setToolTip(QStringLiteral("Закрепить поверх всех окон"));
    tbtnStayOnTop_->setCheckable(true);
    addToBar(tb_, tbtnStayOnTop_);
    addToBar(tb_, actionButton(acSwitchView_, "tbSwitchView", 0, ButtonFace::Image));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acRefreshQuoteTables_, "sbtnRefreshQuikTables", 104, ButtonFace::Caption));
    addToBar(tb_, actionButton(acCenter_, "sbtnCenter", 0, ButtonFace::Caption));
    addToBar(tb_, actionButton(acResetVolume_, "sbtnResetVolume", 0, ButtonFace::Caption));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acSaveCurrentSettings_, "tbSaveSettings", 0, ButtonFace::Image));
    addSeparator(tb_);
    addToBar(tb_, actionButton(acHomePage_, "tbHomePage", 0, ButtonFace::Image));
    endBar(tb_);
}

// The ladder with its own tool bar and position line, and the info panel and DOMBASE button over it.
void TfrmMain::buildLadderPanel() {
    pnlDOM_ = new QWidget;
    pnlDOM_->setObjectName(QStringLiteral("pnlDOM"));
    // Any saved width goes, even one narrower than the ladder's tool bar.
    pnlDOM_->setMinimumWidth(1);
    auto* domLayout = new QVBoxLayout(pnlDOM_);
    domLayout->setContentsMargins(0, 0, 0, 0);
    domLayout->setSpacing(0);
    auto* tbDOM = makeToolBar(pnlDOM_, "tbDOM");
    addToBar(tbDOM, actionButton(acClearAllOrders_, "sbtnClearAllOrders", 105, ButtonFace::Caption));
    addToBar(tbDOM, actionButton(acClearAllStops_, "sbtnClearAllStops", 112, ButtonFace::Caption));
    addSeparator(tbDOM);
    addToBar(tbDOM, actionButton(acFontEdit_, "tbFontEdit", 0, ButtonFace::Image));
    endBar(tbDOM);
    domLayout->addWidget(tbDOM);

    lblPosition_ = new QLabel(pnlDOM_);
    lblPosition_->setObjectName(QStringLiteral("lblPosition"));
    lblPosition_->setContentsMargins(3, 1, 3, 1);
    // A long line (margin, profit) wraps rather than losing its end at the ladder's width.
    lblPosition_->setWordWrap(true);
    lblPosition_->hide();
    domLayout->addWidget(lblPosition_);

    sgDOM_ = new LadderView(session_.ladder(), pnlDOM_);
    sgDOM_->setObjectName(QStringLiteral("sgDOM"));
    QFont ladderFont(QStringLiteral("Courier New"), 8);
    ladderFont.setStyleHint(QFont::TypeWriter);
    sgDOM_->setFont(ladderFont);
    sgDOM_->horizontalHeader()->setDefaultSectionSize(40);
    sgDOM_->verticalHeader()->setDefaultSectionSize(15);
    const int designWidths[LadderGrid::ColumnCount] = {40, 40, 40, 40, 40, 26, 48};
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
    // Offered while the book does not read: a wrong DOMBASE found without leaving the window.
    btnFindDomBase_ = new QPushButton(QStringLiteral("Найти адрес"), pnlDOM_);
    btnFindDomBase_->setObjectName(QStringLiteral("btnFindDomBase"));
    btnFindDomBase_->setGeometry(5, 125, 120, 24);
    btnFindDomBase_->hide();
}

void TfrmMain::buildPages() {
    pc_ = new QTabWidget;
    pc_->setObjectName(QStringLiteral("pc"));
    pc_->setMinimumWidth(1);
    tsMain_ = buildMainTab();
    tsSettings_ = buildSettingsTab();
    tsOrders_ = buildOrdersTab();
    pc_->addTab(tsMain_, QStringLiteral("Основное"));
    pc_->addTab(tsOrders_, QStringLiteral("Заявки"));
    pc_->addTab(tsSettings_, QStringLiteral("Настройки"));
    pc_->setCurrentWidget(tsMain_);
}

QWidget* TfrmMain::buildOrdersTab() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsOrders"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    sgOrders_ = new QTableWidget(0, 5, page);
    sgOrders_->setObjectName(QStringLiteral("sgOrders"));
    // What a trader acts on comes first and fits the page's first width; the long order number last.
    sgOrders_->setHorizontalHeaderLabels({QStringLiteral("Опер."), QStringLiteral("Цена"), QStringLiteral("Кол-во"),
                                          QStringLiteral("Остаток"), QStringLiteral("Номер")});
    sgOrders_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgOrders_->setSelectionMode(QAbstractItemView::NoSelection);
    sgOrders_->setFocusPolicy(Qt::NoFocus);
    sgOrders_->verticalHeader()->hide();
    sgOrders_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(sgOrders_);
    return page;
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
            [this] { runCommand([this] { session_.PriceStep(*this, OrderEntry::PriceMove::Up); }); });
    connect(priceDown, &QToolButton::clicked, this,
            [this] { runCommand([this] { session_.PriceStep(*this, OrderEntry::PriceMove::Down); }); });

    auto place = [page, this](QAction* action, const char* name, int x, int y, int width, int height) {
        QToolButton* button = actionButton(action, name, 0, ButtonFace::Caption);
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
    place(acFlatten_, "sbtnFlatten", 0, 320, 174, 26);
    place(acReverse_, "sbtnReverse", 0, 348, 174, 26);
    sbPrice->raise();

    placeLabel(page, "Label3", QStringLiteral("Смещение цены для лим. заявок:"), 0, 384);
    seDefaultLimitOrderShift_ = placeSpin(page, "seDefaultLimitOrderShift", 0, 1000, 0, 400);
    placeLabel(page, "Label4", QStringLiteral("Смещение цены для стоп заявок:"), 0, 440);
    seDefaultLimitStopShift_ = placeSpin(page, "seDefaultLimitStopShift", 0, 1000, 0, 456);
    return page;
}

QWidget* TfrmMain::buildSettingsTab() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsSettings"));
    struct HotkeyControl {
        QAction* TfrmMain::*action;
        const char* labelName;
        const char* caption;
        const char* editorName;
        int x, y;
    };
    static constexpr HotkeyControl controls[] = {
        {&TfrmMain::acMarketBUY_, "Label5", "Куп. рын.", "hkMarketBuy", 12, 16},
        {&TfrmMain::acMarketSell_, "Label6", "Прод. рын.", "hkMarketSell", 124, 16},
        {&TfrmMain::acMarketPlusBuy_, "Label7", "Куп. рын.+", "hkMarketPlusBuy", 12, 64},
        {&TfrmMain::acMarketPlusSell_, "Label8", "Прод. рын.+", "hkMarketPlusSell", 124, 64},
        {&TfrmMain::acClearAllOrders_, "Label11", "Снять все заявки", "hkClearAllOrders", 12, 112},
        {&TfrmMain::acClearAllStops_, "Label12", "Снять стоп-заявки", "hkClearAllStopOrders", 124, 112},
        {&TfrmMain::acCenter_, "Label15", "Центр", "hkCenter", 12, 160},
        {&TfrmMain::acFlatten_, "Label16", "Закрыть позицию", "hkFlatten", 124, 160},
        {&TfrmMain::acReverse_, "Label17", "Перевернуть", "hkReverse", 12, 208},
        {&TfrmMain::acResetVolume_, "Label18", "Сброс объёма", "hkResetVolume", 124, 208}};
    static_assert(std::size(controls) == std::size(hotkeyKeys), "one editor for each hotkey of the settings");
    for (std::size_t i = 0; i < std::size(controls); ++i) {
        const HotkeyControl& control = controls[i];
        placeLabel(page, control.labelName, QString::fromUtf8(control.caption), control.x, control.y);
        auto* editor = new THotKey(page);
        editor->setObjectName(QLatin1String(control.editorName));
        editor->setGeometry(control.x, control.y + 16, 90, 19);
        hotkeyEditors_[i] = {this->*control.action, editor};
    }
    QLabel* limitLabel =
        placeLabel(page, "Label13", QStringLiteral("Макс. количество в заявке, 0 — без ограничения"), 12, 256);
    limitLabel->setWordWrap(true);
    limitLabel->setFixedWidth(200);
    limitLabel->adjustSize();
    seMaxOrderQuantity_ = placeSpin(page, "seMaxOrderQuantity", 0, 1000000000, 12, 256 + limitLabel->height() + 2);
    seMaxOrderQuantity_->setValue(0);
    const int intervalTop = seMaxOrderQuantity_->y() + seMaxOrderQuantity_->sizeHint().height() + 12;
    placeLabel(page, "Label14", QStringLiteral("Обновление стакана, мс:"), 12, intervalTop);
    seRefreshInterval_ = placeSpin(page, "seRefreshInterval", shortestRefreshInterval, longestRefreshInterval, 12,
                                   intervalTop + 16);
    return page;
}

}  // namespace velmora
