#include "app/main_window.h"

#include "app/clock_dialog.h"
#include "app/compare_dialog.h"
#include "app/flow_windows.h"
#include "app/message_boxes.h"
#include "app/small_dialogs.h"
#include "app/startup.h"
#include "app/unit_history.h"
#include "app/terminal_window.h"
#include "history/snapshot_store.h"
#include "link/device_link.h"
#include "model/tables.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kTitle = QStringLiteral("ZIRezid");
// Menus and their items.
// "&" marks the letter that opens the menu or runs the item with Alt.
const QString kMenuFile = QStringLiteral("&Файл");
const QString kMenuLink = QStringLiteral("&Связь");
const QString kMenuSettings = QStringLiteral("&Настройки");
const QString kMenuHelp = QStringLiteral("Спр&авка");
const QString kNew = QStringLiteral("&Создать...");
const QString kOpen = QStringLiteral("&Открыть...");
const QString kSave = QStringLiteral("Со&хранить");
const QString kSaveAs = QStringLiteral("Сохранить &как ...");
const QString kCompare = QStringLiteral("Сра&внить с файлом…");
const QString kExit = QStringLiteral("В&ыход");
const QString kConnect = QStringLiteral("&Подключиться");
const QString kDisconnect = QStringLiteral("&Отключиться");
const QString kRead = QStringLiteral("&Чтение...");
const QString kWrite = QStringLiteral("&Запись...");
const QString kDateTime = QStringLiteral("&Время и дата...");
const QString kComPort = QStringLiteral("&COM порт...");
const QString kDeviceConfig = QStringLiteral("&Тип устройства...");
const QString kAbout = QStringLiteral("&О программе...");
const QString kNoRecent = QStringLiteral("(нет недавних файлов)");
// Tool bar captions.
const QString kBtNew = QStringLiteral("Создать");
const QString kBtOpen = QStringLiteral("Открыть");
const QString kBtSave = QStringLiteral("Сохранить");
const QString kBtConnect = QStringLiteral("Связь");
const QString kBtRead = QStringLiteral("Чтение");
const QString kBtWrite = QStringLiteral("Запись");
const QString kBtTerminal = QStringLiteral("Терминал");
// Hints.
const QString kHintNew = QStringLiteral("Создать базу настроек");
const QString kHintOpen = QStringLiteral("Открыть базу настроек");
const QString kHintSave = QStringLiteral("Сохранить базу настроек");
const QString kHintSaveAs = QStringLiteral("Сохранить под другим именем");
const QString kHintCompare = QStringLiteral("Показать, чем база настроек отличается от другого файла");
const QString kHintExit = QStringLiteral("Выход из программы");
const QString kHintConnect = QStringLiteral("Подключиться к устройству");
const QString kHintDisconnect = QStringLiteral("Отключиться от устройства");
const QString kHintRead = QStringLiteral("Чтение настроек из устройства");
const QString kHintWrite = QStringLiteral("Запись настроек в устройство");
const QString kHintComPort = QStringLiteral("Выбрать COM порт");
const QString kHintDeviceConfig = QStringLiteral("Выбрать тип устройства");
// Status bar and device-information box.
const QString kPanelPortInitial = QStringLiteral("COMx");
const QString kPanelTypeInitial = QStringLiteral("Тип устройства");
const QString kInfoType = QStringLiteral("Тип устройства:");
const QString kInfoSoftVer = QStringLiteral("Версия ПО");
const QString kInfoFreeSpace = QStringLiteral("Объем своб. места в памяти:");
const QString kInfoDisconnected = QStringLiteral("Устройство не подключено");
const QString kMinutes = QStringLiteral(" мин.");
// File commands.
const QString kOpenTitle = QStringLiteral("Открыть конфигурацию");
const QString kSaveTitle = QStringLiteral("Сохранить конфигурацию");
const QString kNewTitle = QStringLiteral("Новая база настроек");
const QString kCompareTitle = QStringLiteral("Сравнить с файлом");
const QString kFilter = QStringLiteral("VIDA Configuration Files (*.qor)");
const QString kNotSaved = QStringLiteral("База настроек не сохранена. Сохранить?");
const QString kChangedOnDisk =
    QStringLiteral("Файл %1 изменён другой программой после того, как он был открыт или сохранён здесь.\n"
                   "Сохранить и заменить изменения другой программы?");
const QString kFileBusy = QStringLiteral("База настроек не сохранена: %1");
const QString kConvertLossy =
    QStringLiteral("База настроек будет преобразована. Часть информации может быть утеряна. Продолжить?");
const QString kConvert = QStringLiteral("База настроек будет преобразована. Продолжить?");
const QString kRootCaption = QStringLiteral("База настроек: ");
const QString kUnnamedFile = QStringLiteral("noname.qor");
const QString kReadOnlyMark = QStringLiteral(" (только чтение)");
const QString kSnapshotCaption = QStringLiteral("Снимок устройства ");
// Device commands.
const QString kReadCaption = QStringLiteral("Чтение данных из автоинформатора...");
const QString kWriteCaption = QStringLiteral("Запись данных в автоинформатор...");
const QString kNothingToRead = QStringLiteral("Выберите объекты для чтения в панели слева.");
const QString kNothingToWrite = QStringLiteral("Выберите объекты для записи в панели слева.");

constexpr int kBytesPerMinute = 240000; // recorded sound of the unit
// The tree is wide enough for its longest caption with the nodes open; the editors are laid out to fit the rest
// of the opening width.
constexpr int kEditorMinWidth = 530;
constexpr int kTreeMinWidth = 262;
// The window opens at this size and may only grow from it.
constexpr QSize kWindowSize(800, 562);

// The window's state table: which command is available in each state (host::ShellState: saved, modified, no
// database, busy), combined with the connection flag.
enum class En { Yes, No, Conn, NotConn, NotUnnamed };
struct ShellStateRow {
    QAction* Tfrm_main::*control;
    En rule[4];
};
constexpr ShellStateRow kShellStates[] = {
    {&Tfrm_main::bt_Connect, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::bt_Read, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::bt_Write, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::bt_Terminal, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::mn_Connect, {En::NotConn, En::NotConn, En::NotConn, En::No}},
    {&Tfrm_main::mn_Disconnect, {En::Conn, En::Conn, En::Conn, En::No}},
    {&Tfrm_main::mn_Read, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::mn_Write, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::mn_DateTime, {En::Conn, En::Conn, En::No, En::No}},
    {&Tfrm_main::mn_DeviceConfig, {En::NotConn, En::NotConn, En::NotConn, En::No}},
    {&Tfrm_main::mn_New, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::mn_Open, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::mn_Exit, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::bt_New, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::bt_Open, {En::Yes, En::Yes, En::Yes, En::No}},
    {&Tfrm_main::mn_Save, {En::No, En::NotUnnamed, En::No, En::No}},
    {&Tfrm_main::bt_Save, {En::No, En::Yes, En::No, En::No}},
    {&Tfrm_main::mn_SaveAs, {En::Yes, En::Yes, En::No, En::No}},
    {&Tfrm_main::mn_Compare, {En::Yes, En::Yes, En::No, En::No}},
};
constexpr bool kDatabaseShown[4] = {true, true, false, false}; // pnl_meedle visible and the tree enabled
constexpr bool kBusyCursor[4] = {false, false, false, true};

QPixmap glyph(int kind) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    switch (kind) {
    case 0: // new: a sheet with a folded corner
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF() << QPointF(3, 1.5) << QPointF(10, 1.5) << QPointF(13, 4.5) << QPointF(13, 14.5)
                                  << QPointF(3, 14.5));
        break;
    case 1: // open: a folder
        p.setBrush(QColor(230, 190, 80));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
        break;
    case 2: // save: a diskette
        p.setBrush(QColor(60, 90, 170));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.fillRect(QRectF(4, 2, 8, 5), Qt::white);
        break;
    case 3: // connect: a plug
        p.setBrush(QColor(90, 160, 90));
        p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
        p.drawLine(QPointF(6, 1), QPointF(6, 4));
        p.drawLine(QPointF(10, 1), QPointF(10, 4));
        break;
    case 4: // read: an arrow into the computer
    case 5: // write: an arrow out to the unit
        p.setBrush(kind == 4 ? QColor(40, 120, 200) : QColor(200, 90, 40));
        if (kind == 4)
            p.drawPolygon(QPolygonF() << QPointF(8, 14) << QPointF(2, 7) << QPointF(6, 7) << QPointF(6, 2)
                                      << QPointF(10, 2) << QPointF(10, 7) << QPointF(14, 7));
        else
            p.drawPolygon(QPolygonF() << QPointF(8, 2) << QPointF(2, 9) << QPointF(6, 9) << QPointF(6, 14)
                                      << QPointF(10, 14) << QPointF(10, 9) << QPointF(14, 9));
        break;
    default:
        p.setBrush(Qt::black);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        break;
    }
    return pm;
}

QPixmap backgroundPicture() {
    QPixmap pm(360, 200);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128, 40));
    p.drawRoundedRect(QRectF(10, 10, 340, 180), 24, 24);
    QFont font(QStringLiteral("Verdana"));
    font.setPointSize(34);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0, 0, 128, 150));
    p.drawText(pm.rect(), Qt::AlignCenter, kTitle);
    return pm;
}

QString fileNameOf(const QString& path) { return QFileInfo(path).fileName(); }
} // namespace

Tfrm_main::Tfrm_main(QString settingsFile) : settingsFile_(std::move(settingsFile)) {
    host::install(this);
    createControls();
    askFileName = [this](FileDialogKind kind, const QString& title, const QString& name) {
        return runFileDialog(kind, title, name);
    };
    FormCreate();
    createWindows();
}

Tfrm_main::~Tfrm_main() {
    // The objects go before the frames and windows they refer to; the tree's nodes are forgotten first.
    clearTree();
    for (TKT_EDITOR* frame : frames.all())
        frame->unbind();
    db.unbindEditors = nullptr;
    // The dialog and its link outlive the database (they go with the window's children, after the members).
    frm_read->setDatabase(nullptr, tempFolder);
    if (host::Host* previous = host::install(nullptr); previous != this)
        host::install(previous);
}

void Tfrm_main::createControls() {
    setWindowTitle(kTitle);
    setObjectName(QStringLiteral("frm_main"));

    auto makeAction = [this](const QString& text, const QString& hint, const char* name) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setStatusTip(hint);
        action->setToolTip(hint);
        return action;
    };
    mn_New = makeAction(kNew, kHintNew, "mn_New");
    mn_Open = makeAction(kOpen, kHintOpen, "mn_Open");
    mn_Save = makeAction(kSave, kHintSave, "mn_Save");
    mn_SaveAs = makeAction(kSaveAs, kHintSaveAs, "mn_SaveAs");
    mn_Compare = makeAction(kCompare, kHintCompare, "mn_Compare");
    mn_Exit = makeAction(kExit, kHintExit, "mn_Exit");
    mn_Connect = makeAction(kConnect, kHintConnect, "mn_Connect");
    mn_Disconnect = makeAction(kDisconnect, kHintDisconnect, "mn_Disconnect");
    mn_Read = makeAction(kRead, kHintRead, "mn_Read");
    mn_Write = makeAction(kWrite, kHintWrite, "mn_Write");
    mn_DateTime = makeAction(kDateTime, QString(), "mn_DateTime");
    mnCOM = makeAction(kComPort, kHintComPort, "mnCOM");
    mn_DeviceConfig = makeAction(kDeviceConfig, kHintDeviceConfig, "mn_DeviceConfig");
    mnAbout = makeAction(kAbout, QString(), "mnAbout");
    mn_New->setShortcut(QKeySequence::New);
    mn_Open->setShortcut(QKeySequence::Open);
    mn_SaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    mn_Exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    mn_Connect->setShortcut(QKeySequence(Qt::Key_F2));
    mn_Disconnect->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F2));
    mn_Read->setShortcut(QKeySequence(Qt::Key_F5));
    mn_Write->setShortcut(QKeySequence(Qt::Key_F6));
    // The menu's Save is off for a modified unnamed database, yet Ctrl+S must save it too (as the tool bar's
    // button does, through Save As). The menu item only shows the key; a window-wide action of its own runs it.
    mn_Save->setShortcut(QKeySequence::Save);
    mn_Save->setShortcutContext(Qt::WidgetShortcut);
    auto* ks_Save = new QAction(this);
    ks_Save->setObjectName(QStringLiteral("ks_Save"));
    ks_Save->setShortcut(QKeySequence::Save);
    addAction(ks_Save);
    connect(ks_Save, &QAction::triggered, this, [this] {
        commitEditor(); // what was typed last, still in the focused field, belongs to the save
        if (shellState == stModified)
            bt_SaveClick();
    });

    QMenu* file = menuBar()->addMenu(kMenuFile);
    file->addActions({mn_New, mn_Open, mn_Save, mn_SaveAs});
    file->addSeparator();
    file->addAction(mn_Compare);
    file->addSeparator();
    mn_Recent = file->addMenu(QStringLiteral("&Недавние файлы"));
    mn_Recent->setObjectName(QStringLiteral("mn_Recent"));
    connect(mn_Recent, &QMenu::aboutToShow, this, &Tfrm_main::fillRecentMenu);
    fillRecentMenu();
    file->addSeparator();
    file->addAction(mn_Exit);
    QMenu* link = menuBar()->addMenu(kMenuLink);
    link->addActions({mn_Connect, mn_Disconnect});
    link->addSeparator();
    link->addActions({mn_Read, mn_Write});
    link->addSeparator();
    link->addAction(mn_DateTime);
    link->addSeparator();
    QAction* rollback = link->addAction(QStringLiteral("Откатить последнюю запись"), this,
                                        [this] { unitHistory->rollback(*frm_read, db, tempFolder, isConnected); });
    rollback->setObjectName(QStringLiteral("mn_Rollback"));
    QAction* unitHistoryAction = link->addAction(QStringLiteral("История устройства…"), this, [this] {
        const std::string chosen = unitHistory->showHistory(db, isConnected);
        if (!chosen.empty())
            openSnapshot(chosen);
    });
    unitHistoryAction->setObjectName(QStringLiteral("mn_UnitHistory"));
    QMenu* settings = menuBar()->addMenu(kMenuSettings);
    settings->addActions({mnCOM, mn_DeviceConfig});
    QMenu* help = menuBar()->addMenu(kMenuHelp);
    help->addAction(mnAbout);
    installFlowCommands(*this, file);

    bt_New = makeAction(kBtNew, kHintNew, "bt_New");
    bt_Open = makeAction(kBtOpen, kHintOpen, "bt_Open");
    bt_Save = makeAction(kBtSave, kHintSave, "bt_Save");
    bt_Connect = makeAction(kBtConnect, kHintConnect, "bt_Connect");
    bt_Connect->setCheckable(true);
    bt_Read = makeAction(kBtRead, kHintRead, "bt_Read");
    bt_Write = makeAction(kBtWrite, kHintWrite, "bt_Write");
    bt_Terminal = makeAction(kBtTerminal, QString(), "bt_Terminal");
    const QAction* glyphed[] = {bt_New, bt_Open, bt_Save, bt_Connect, bt_Read, bt_Write, bt_Terminal};
    for (int i = 0; i < 7; ++i)
        const_cast<QAction*>(glyphed[i])->setIcon(QIcon(glyph(i)));
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    bar->addActions({bt_New, bt_Open, bt_Save});
    bar->addSeparator();
    bar->addActions({bt_Connect, bt_Read, bt_Write, bt_Terminal});
    bt_Terminal->setVisible(false);
    for (QAction* action : bar->actions())
        if (QWidget* button = bar->widgetForAction(action))
            button->setMinimumSize(25, 22);

    // Centre: the background picture, with the database panel over it.
    auto* centre = new QWidget(this);
    auto* stack = new QGridLayout(centre);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* background = new QLabel(centre);
    background->setPixmap(backgroundPicture());
    background->setAlignment(Qt::AlignCenter);
    stack->addWidget(background, 0, 0);
    pnl_meedle = new QWidget(centre);
    pnl_meedle->setObjectName(QStringLiteral("pnl_meedle"));
    pnl_meedle->setAutoFillBackground(true);
    stack->addWidget(pnl_meedle, 0, 0);
    setCentralWidget(centre);

    auto* meedleLayout = new QVBoxLayout(pnl_meedle);
    meedleLayout->setContentsMargins(0, 0, 0, 0);
    Splitter1 = new QSplitter(Qt::Horizontal, pnl_meedle);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);
    meedleLayout->addWidget(Splitter1);

    pnl_tree = new QWidget(Splitter1);
    pnl_tree->setObjectName(QStringLiteral("pnl_tree"));
    pnl_tree->setMinimumWidth(kTreeMinWidth);
    auto* treeLayout = new QVBoxLayout(pnl_tree);
    treeLayout->setContentsMargins(2, 2, 2, 2);
    kt_treeview = new KtTreeView(pnl_tree);
    kt_treeview->setObjectName(QStringLiteral("kt_treeview"));
    treeLayout->addWidget(kt_treeview, 1);
    GroupBox1 = new QGroupBox(pnl_tree);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* info = new QGridLayout(GroupBox1);
    auto label = [this](const QString& text, const char* name) {
        auto* l = new QLabel(text, GroupBox1);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    lbl_nType = label(kInfoType, "lbl_nType");
    lbl_vType = label(QString(), "lbl_vType");
    lbl_nSoftVer = label(kInfoSoftVer, "lbl_nSoftVer");
    lbl_vSoftVer = label(QString(), "lbl_vSoftVer");
    lbl_nFreeSpace = label(kInfoFreeSpace, "lbl_nFreeSpace");
    lbl_vFreeSpace = label(QString(), "lbl_vFreeSpace");
    lbl_nDisc = label(kInfoDisconnected, "lbl_nDisc");
    info->addWidget(lbl_nType, 0, 0);
    info->addWidget(lbl_vType, 0, 1);
    info->addWidget(lbl_nSoftVer, 1, 0);
    info->addWidget(lbl_vSoftVer, 1, 1);
    // The free-memory caption takes the whole width of the box; its value goes under it.
    info->addWidget(lbl_nFreeSpace, 2, 0, 1, 2);
    info->addWidget(lbl_vFreeSpace, 3, 1, Qt::AlignRight);
    info->addWidget(lbl_nDisc, 4, 0, 1, 2, Qt::AlignCenter);
    lbl_vMessages = label(QString(), "lbl_vMessages");
    lbl_vMessages->setWordWrap(true);
    info->addWidget(lbl_vMessages, 5, 0, 1, 2);
    treeLayout->addWidget(GroupBox1);

    // The menu editor with its sound controls is taller than the opening window: in a window that small it
    // scrolls, where a plain panel would squeeze its controls over one another.
    auto* editorScroll = new QScrollArea(Splitter1);
    editorScroll->setObjectName(QStringLiteral("sc_editor"));
    editorScroll->setFrameShape(QFrame::NoFrame);
    editorScroll->setWidgetResizable(true);
    editorScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pnl_editor = new QWidget;
    pnl_editor->setObjectName(QStringLiteral("pnl_editor"));
    // The splitter may not leave the editor less than this: the editors are laid out for it, and a scroll bar
    // beside a tall editor takes its width from it rather than bringing a second scroll bar.
    editorScroll->setMinimumWidth(kEditorMinWidth);
    pnl_editor->setMinimumWidth(kEditorMinWidth - editorScroll->verticalScrollBar()->sizeHint().width());
    editorScroll->setWidget(pnl_editor);
    auto* editorLayout = new QVBoxLayout(pnl_editor);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    const int widths[3] = {640, 50, 50};
    const QString initial[3] = {QString(), kPanelPortInitial, kPanelTypeInitial};
    statusBar()->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        stStatus[i] = new QLabel(initial[i], statusBar());
        stStatus[i]->setObjectName(QStringLiteral("stStatus%1").arg(i));
        stStatus[i]->setFixedWidth(widths[i]);
        stStatus[i]->setFrameShape(QFrame::Panel);
        stStatus[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(stStatus[i]);
    }

    connect(mn_New, &QAction::triggered, this, &Tfrm_main::mn_NewClick);
    connect(bt_New, &QAction::triggered, this, &Tfrm_main::mn_NewClick);
    connect(mn_Open, &QAction::triggered, this, &Tfrm_main::mn_OpenClick);
    connect(bt_Open, &QAction::triggered, this, &Tfrm_main::mn_OpenClick);
    connect(mn_Save, &QAction::triggered, this, &Tfrm_main::mn_SaveClick);
    connect(bt_Save, &QAction::triggered, this, &Tfrm_main::bt_SaveClick);
    connect(mn_SaveAs, &QAction::triggered, this, &Tfrm_main::mn_SaveAsClick);
    connect(mn_Compare, &QAction::triggered, this, &Tfrm_main::mn_CompareClick);
    connect(mn_Exit, &QAction::triggered, this, &Tfrm_main::mn_ExitClick);
    connect(mn_Connect, &QAction::triggered, this, &Tfrm_main::mn_ConnectClick);
    connect(mn_Disconnect, &QAction::triggered, this, &Tfrm_main::mn_DisconnectClick);
    connect(bt_Connect, &QAction::triggered, this, &Tfrm_main::bt_ConnectClick);
    connect(mn_Read, &QAction::triggered, this, &Tfrm_main::mn_ReadClick);
    connect(bt_Read, &QAction::triggered, this, &Tfrm_main::mn_ReadClick);
    connect(mn_Write, &QAction::triggered, this, &Tfrm_main::mn_WriteClick);
    connect(bt_Write, &QAction::triggered, this, &Tfrm_main::mn_WriteClick);
    connect(mn_DateTime, &QAction::triggered, this, &Tfrm_main::mn_DateTimeClick);
    connect(mnCOM, &QAction::triggered, this, &Tfrm_main::mnCOMClick);
    connect(mn_DeviceConfig, &QAction::triggered, this, &Tfrm_main::mn_DeviceConfigClick);
    connect(mnAbout, &QAction::triggered, this, &Tfrm_main::mnAboutClick);
    connect(kt_treeview, &QTreeWidget::currentItemChanged, this, &Tfrm_main::kt_treeviewChange);
    kt_treeview->toggleMark = [this](TreeNodeItem* node) { toggleMark(node); };
    kt_treeview->toggleExpand = [this](QTreeWidgetItem* item) { toggleExpand(item); };

    // Where the technician looked last time; an installed program's own folder is nobody's place for files.
    const QString programFolder = Preferences::lastFolder();
    openDialog_ = new QFileDialog(this, kOpenTitle, programFolder, kFilter);
    openDialog_->setOption(QFileDialog::DontUseNativeDialog);
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog_->setFileMode(QFileDialog::ExistingFile);
    saveDialog_ = new QFileDialog(this, kSaveTitle, programFolder, kFilter);
    saveDialog_->setOption(QFileDialog::DontUseNativeDialog);
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setDefaultSuffix(QStringLiteral("qor"));

    setMinimumSize(kWindowSize);
    resize(kWindowSize);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // The size and the splitter the user left last time.
    if (const QByteArray geometry = Preferences::windowGeometry(); !geometry.isEmpty())
        restoreGeometry(geometry);
    if (const QByteArray splitter = Preferences::splitterState(); !splitter.isEmpty())
        Splitter1->restoreState(splitter);
}

void Tfrm_main::fillRecentMenu() {
    mn_Recent->clear();
    const QStringList files = Preferences::recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files.at(i);
        QAction* action = mn_Recent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(fileNameOf(path)));
        action->setObjectName(QStringLiteral("mn_Recent%1").arg(i + 1));
        action->setStatusTip(path);
        action->setToolTip(path);
        connect(action, &QAction::triggered, this, [this, path] { openFile(path); });
    }
    if (files.isEmpty())
        mn_Recent->addAction(kNoRecent)->setEnabled(false);
}

void Tfrm_main::rememberFile(const QString& path) {
    Preferences::addRecentFile(QFileInfo(path).absoluteFilePath());
    fillRecentMenu();
}

void Tfrm_main::updateTitle() {
    if (shellState == stNoBase || db.root == nullptr) {
        setWindowTitle(kTitle);
        return;
    }
    const QString name = isUnnamed ? unnamedName_ : fileNameOf(QString::fromStdString(db.basePath));
    setWindowTitle(name + (shellState == stModified ? QStringLiteral("*") : QString()) + QStringLiteral(" — ") +
                   kTitle);
}

void Tfrm_main::FormCreate() {
    tempFolder = prepareScratchFolder(QCoreApplication::applicationDirPath());
    int configId = Preferences::defaultConfigId;
    Preferences::load(comPortNumber, configId);
    if (!db.selectUnitConfig(configId))
        db.selectUnitConfig(kDefaultConfigId);
    isConnected = false;
    applyShellState(stNoBase);

    frames = createEditorFrames();
}

void Tfrm_main::createWindows() {
    frm_msg_err_ari = new Tfrm_msg_err_ari(this);
    frm_msg_warn_query = new Tfrm_msg_warn_query(this);
    frames.attach(db,
                  [this](const QString& question) { return frm_msg_warn_query->askYesNoCancel(question) == mrYes; });
    watchMessages();
    frm_msg_warn_query_all = new Tfrm_msg_warn_query_all(this);
    frm_editbox = new Tfrm_editbox(this);
    frm_read = new Tfrm_read(this, frm_msg_err_ari, frm_msg_warn_query_all, frm_editbox);
    frm_read->setDatabase(&db, tempFolder);
    unitHistory = new UnitHistory(this);
    unitHistory->attach(*frm_read);
    frm_compare = new Tfrm_compare(this);
    frm_compare->selectObject = [this](const QString& objectName) {
        // By name in the database open now; an object the other file alone has, or the device information,
        // has no node to select.
        if (KT_TABLE* object = db.findObject(objectName.toStdString()))
            selectObjectNode(*object);
    };
    frm_read->onDeviceInfoChanged = [this] { updateDeviceInfoBox(); };
    // A dead line ends the session whatever was running; the database and the edits stay as they are.
    frm_read->onLineLost = [this] {
        if (isConnected)
            setShellState(shellState, false);
    };
    frm_read->onClosed = [this] {
        if (QTreeWidgetItem* current = kt_treeview->currentItem())
            kt_treeviewChange(current, nullptr);
    };
    frm_about = new Tfrm_about(this);
    // The terminal button stays hidden; service staff reach the terminal with Ctrl+Shift+T.
    auto* frm_terminal = new Tfrm_terminal(this);
    frm_terminal->linkPort = [this]() -> serial::TVaComm* {
        return frm_read->link() != nullptr ? frm_read->link()->VaComm1.get() : nullptr;
    };
    const auto showTerminal = [this, frm_terminal] {
        if (shellState == stBusy)
            return;
        frm_terminal->comPortNumber = comPortNumber;
        frm_terminal->exec();
    };
    connect(bt_Terminal, &QAction::triggered, this, showTerminal);
    auto* mn_ServiceTerminal = new QAction(this);
    mn_ServiceTerminal->setObjectName(QStringLiteral("mn_ServiceTerminal"));
    mn_ServiceTerminal->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    addAction(mn_ServiceTerminal);
    connect(mn_ServiceTerminal, &QAction::triggered, this, showTerminal);
    frm_clock = new Tfrm_clock(this, frm_read);
    frm_new = new Tfrm_new(this);
    frm_ComPort = new Tfrm_ComPort(this);
}

void Tfrm_main::showMessage(const std::string& text, host::MessageIcon icon) {
    zirezid::showMessage(this, QString::fromStdString(text), icon == host::MessageIcon::Error);
}

void Tfrm_main::processEvents() { QCoreApplication::processEvents(); }

void Tfrm_main::applyShellState(ShellState state) { setShellState(state, isConnected); }

void Tfrm_main::setShellState(ShellState state, bool connected) {
    shellState = state;
    isConnected = connected;
    const int s = qBound(0, static_cast<int>(state), 3);
    for (const ShellStateRow& row : kShellStates) {
        bool on = false;
        switch (row.rule[s]) {
        case En::Yes:
            on = true;
            break;
        case En::No:
            on = false;
            break;
        case En::Conn:
            on = connected;
            break;
        case En::NotConn:
            on = !connected;
            break;
        case En::NotUnnamed:
            on = !isUnnamed;
            break;
        }
        (this->*row.control)->setEnabled(on);
    }
    bt_Connect->setChecked(connected);
    const QString connectHint = connected ? kHintDisconnect : kHintConnect;
    bt_Connect->setStatusTip(connectHint);
    bt_Connect->setToolTip(connectHint);
    pnl_meedle->setVisible(kDatabaseShown[s]);
    kt_treeview->setEnabled(kDatabaseShown[s]);
    if (kBusyCursor[s] && !busyCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        busyCursor_ = true;
    } else if (!kBusyCursor[s] && busyCursor_) {
        QApplication::restoreOverrideCursor();
        busyCursor_ = false;
    }
    stStatus[1]->setText(QStringLiteral("COM%1").arg(comPortNumber));
    stStatus[2]->setText(QString::fromStdString(db.currentConfig.name));
    updateDeviceInfoBox();
    if (state != stBusy)
        updateTitle();
}

void Tfrm_main::updateDeviceInfoBox() {
    QLabel* const details[] = {lbl_nType, lbl_vType, lbl_nSoftVer, lbl_vSoftVer, lbl_nFreeSpace, lbl_vFreeSpace};
    if (isConnected) {
        lbl_vType->setText(QString::fromStdString(db.currentConfig.name));
        KT_TABLE* info = db.deviceInfo.get();
        KT_RECORD* soft = info != nullptr ? info->findChild("SoftVer") : nullptr;
        KT_RECORD* free = info != nullptr ? info->findChild("FreeSpaceBytes") : nullptr;
        lbl_vSoftVer->setText(soft != nullptr ? QString::fromStdString(soft->getEditText()) : QString());
        bool ok = false;
        qint64 bytes = free != nullptr ? QString::fromStdString(free->getEditText()).toLongLong(&ok) : 0;
        if (!ok)
            bytes = 0;
        lbl_vFreeSpace->setText(QString::number(bytes / kBytesPerMinute) + kMinutes);
    }
    for (QLabel* l : details)
        l->setVisible(isConnected);
    lbl_nDisc->setVisible(!isConnected);
    updateMessagesSpace();
}

void Tfrm_main::clearTree() {
    const QSignalBlocker blocker(kt_treeview);
    if (TreeNodeItem* root = kt_treeview->rootNode())
        root->forgetTables();
    kt_treeview->clear();
}

void Tfrm_main::rebuildTree() {
    clearTree();
    KT_BASE* root = db.root.get();
    if (root == nullptr)
        return;
    const QSignalBlocker blocker(kt_treeview);
    auto* node = new TreeNodeItem(root);
    kt_treeview->addTopLevelItem(node);
    node->setText(root->getDescription());
    root->node = node;
    root->refreshNode();
    buildTree(*root);
}

void Tfrm_main::expandAndSelectRoot() {
    TreeNodeItem* root = kt_treeview->rootNode();
    if (root == nullptr)
        return;
    allowExpand = true;
    root->setExpanded(true);
    kt_treeview->setCurrentItem(root);
    allowExpand = false;
}

void Tfrm_main::toggleMark(TreeNodeItem* node) {
    if (node == nullptr || node->data() == nullptr || !kt_treeview->isEnabled())
        return;
    KT_TABLE& object = *node->data();
    object.markState = object.markState == kMarkNone ? kMarkMarked : kMarkNone;
    object.refreshNode();
    markDown(object, object.markState);
    markUp(object, object.markState);
}

void Tfrm_main::toggleExpand(QTreeWidgetItem* item) {
    allowExpand = true;
    item->setExpanded(!item->isExpanded());
    allowExpand = false;
}

void Tfrm_main::selectObjectNode(KT_TABLE& object) {
    auto* node = dynamic_cast<TreeNodeItem*>(object.node);
    if (node == nullptr)
        return;
    allowExpand = true;
    for (QTreeWidgetItem* up = node->QTreeWidgetItem::parent(); up != nullptr; up = up->parent())
        up->setExpanded(true);
    kt_treeview->setCurrentItem(node);
    allowExpand = false;
}

void Tfrm_main::kt_treeviewChange(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    auto* context = static_cast<host::WindowHandle>(static_cast<EditorOwner*>(this));
    if (previous != nullptr)
        if (KT_TABLE* object = static_cast<TreeNodeItem*>(previous)->data())
            object->hideEditor();
    KT_TABLE* object = current != nullptr ? static_cast<TreeNodeItem*>(current)->data() : nullptr;
    // Whatever was shown before (a dialog may have rebuilt the tree under a frame it left visible), only the
    // selected object's frame stays in the panel.
    for (TKT_EDITOR* frame : frames.all())
        if (frame->parentWidget() == pnl_editor && (object == nullptr || object->editorFrame != frame))
            frame->hideAndDetach();
    if (object != nullptr)
        object->showEditor(pnl_editor, context);
}

QList<int> Tfrm_main::pathOf(QTreeWidgetItem* item) {
    QList<int> path;
    for (; item != nullptr && item->parent() != nullptr; item = item->parent())
        path.prepend(item->parent()->indexOfChild(item));
    return path;
}

void Tfrm_main::selectPath(const QList<int>& path) {
    QTreeWidgetItem* item = kt_treeview->rootNode();
    if (item == nullptr)
        return;
    allowExpand = true;
    for (int index : path) {
        if (index < 0 || index >= item->childCount())
            break;
        item->setExpanded(true);
        item = item->child(index);
    }
    kt_treeview->setCurrentItem(nullptr);
    kt_treeview->setCurrentItem(item);
    allowExpand = false;
}

void Tfrm_main::commitEditor() {
    for (TKT_EDITOR* frame : frames.all())
        if (frame->isVisible())
            frame->commitPending();
}

bool Tfrm_main::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        stStatus[0]->setText(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void Tfrm_main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void Tfrm_main::FormShow() {
    shown_ = true;
    isUnnamed = true;
    unnamedName_ = kUnnamedFile;
    clearTree();
    if (!settingsFile_.isEmpty()) {
        const QString path = QFileInfo(settingsFile_).absoluteFilePath();
        isUnnamed = !db.loadBase(path.toStdString());
        if (!isUnnamed)
            rememberFile(path);
    }
    if (isUnnamed) {
        const QString path = tempFolder + kUnnamedFile;
        const QString messages = messagesFolderFor(path);
        prepareFolder(messages);
        db.buildNewBase(path.toStdString());
        db.messagesFolder = messages.toStdString();
    }
    rebuildTree();
    expandAndSelectRoot();
    applyShellState(stSaved);
}

QString Tfrm_main::runFileDialog(FileDialogKind kind, const QString& title, const QString& fileName) {
    QFileDialog* dialog = kind == FileDialogKind::Open ? openDialog_ : saveDialog_;
    const QString previous = dialog->windowTitle();
    dialog->setWindowTitle(title);
    // The folder of the open file is where its neighbours are; the unnamed database lives in the scratch
    // folder, which is nobody's place to look.
    if (!isUnnamed && !db.basePath.empty())
        dialog->setDirectory(QFileInfo(QString::fromStdString(db.basePath)).absolutePath());
    if (!fileName.isEmpty())
        dialog->selectFile(isUnnamed ? QFileInfo(fileName).fileName() : fileName);
    const bool ok = dialog->exec() == QDialog::Accepted;
    dialog->setWindowTitle(previous);
    if (ok) {
        // The chosen file's folder: a path typed whole leaves the dialog's own folder where it was.
        const QString folder = QFileInfo(dialog->selectedFiles().value(0)).absolutePath();
        Preferences::writeLastFolder(folder);
        // The other dialog starts there too: open and save usually go to the same folder.
        (kind == FileDialogKind::Open ? saveDialog_ : openDialog_)->setDirectory(folder);
    }
    return ok ? dialog->selectedFiles().value(0) : QString();
}

bool Tfrm_main::askSaveChanges() {
    switch (frm_msg_warn_query->askYesNoCancel(kNotSaved)) {
    case mrYes:
        if (isUnnamed)
            mn_SaveAsClick();
        else
            mn_SaveClick();
        // A save that failed or was declined keeps the edits: what was about to happen (close, open, new)
        // must not throw them away.
        return shellState == stSaved;
    case mrNo:
        return true;
    default:
        return false;
    }
}

void Tfrm_main::mn_NewClick() {
    commitEditor();
    if (shellState == stModified && !askSaveChanges())
        return;
    const QString path = askFileName(FileDialogKind::Save, kNewTitle, QString());
    if (path.isEmpty())
        return;
    clearTree();
    applyShellState(stBusy);
    db.buildNewBase(path.toStdString());
    if (db.saveBase(path.toStdString()))
        showDatabaseOf(path);
    else
        showNoDatabase();
}

void Tfrm_main::mn_OpenClick() {
    QCoreApplication::processEvents();
    commitEditor();
    if (shellState == stModified && !askSaveChanges())
        return;
    const QString path = askFileName(FileDialogKind::Open, kOpenTitle, QString());
    if (path.isEmpty())
        return;
    loadFile(path);
}

void Tfrm_main::mn_CompareClick() {
    if (shellState != stSaved && shellState != stModified)
        return;
    commitEditor(); // what was typed last belongs to the comparison
    const QString path = askFileName(FileDialogKind::Open, kCompareTitle, QString());
    if (path.isEmpty())
        return;
    // The other file is only read: it is never saved, and its load messages say what it could not hold.
    SettingsDatabase other;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool loaded = other.loadBase(QFileInfo(path).absoluteFilePath().toStdString());
    const compare::Comparison result = loaded ? compare::compareDatabases(db, other) : compare::Comparison{};
    QApplication::restoreOverrideCursor();
    if (!loaded)
        return;
    const QString nameA = isUnnamed ? kUnnamedFile : fileNameOf(QString::fromStdString(db.basePath));
    frm_compare->showComparison(result, nameA, fileNameOf(path));
    if (!frm_compare->isVisible()) {
        // Beside the tree rather than over it, so that a double-click shows where it leads; kept on the screen.
        QRect place(pnl_editor->mapToGlobal(QPoint(0, 0)), frm_compare->size());
        if (QScreen* screen = this->screen()) {
            const QRect free = screen->availableGeometry();
            place.moveRight(qMin(place.right(), free.right()));
            place.moveBottom(qMin(place.bottom(), free.bottom()));
            place.moveLeft(qMax(place.left(), free.left()));
            place.moveTop(qMax(place.top(), free.top()));
        }
        frm_compare->move(place.topLeft());
    }
    frm_compare->show();
    frm_compare->raise();
    frm_compare->activateWindow();
}

void Tfrm_main::openFile(const QString& path) {
    if (shellState == stBusy)
        return;
    commitEditor();
    if (shellState == stModified && !askSaveChanges())
        return;
    loadFile(path);
}

void Tfrm_main::loadFile(const QString& path) {
    frm_compare->hide(); // its differences were those of the database that goes now
    applyShellState(stBusy);
    clearTree();
    // A failed load keeps the old database in memory, but it is no longer shown.
    if (db.loadBase(path.toStdString()))
        showDatabaseOf(path);
    else
        showNoDatabase();
}

void Tfrm_main::showDatabaseOf(const QString& path) {
    isUnnamed = false;
    rememberFile(path);
    rebuildTree();
    expandAndSelectRoot();
    applyShellState(stSaved);
}

void Tfrm_main::showNoDatabase() {
    frames.releaseAll();
    applyShellState(stNoBase);
}

void Tfrm_main::openSnapshot(const std::string& snapshotFolder) {
    if (shellState == stBusy)
        return;
    const std::optional<history::Snapshot> snapshot =
        history::SnapshotStore(UnitHistory::folder()).find(snapshotFolder);
    if (!snapshot)
        return;
    commitEditor();
    if (shellState == stModified && !askSaveChanges())
        return;
    // The window works on a copy in the scratch folder: an edit, a levelled or replaced recording never reach
    // the history, and the copy has no name of its own, so a save asks where the technician wants it.
    const QString copyFolder = tempFolder + QStringLiteral("snapshot/");
    QDir(copyFolder).removeRecursively();
    const QString title = QString::fromStdString(snapshot->index.unit + "-" + snapshot->name);
    const QString copy = copyFolder + title + QStringLiteral(".qor");
    frm_compare->hide();
    applyShellState(stBusy);
    clearTree();
    bool opened = prepareFolder(copyFolder) && history::loadSnapshot(*snapshot, db);
    if (opened) {
        db.basePath = copy.toStdString();
        // The tree is narrow: the unit is enough there, the title bar names the snapshot whole.
        db.root->description = (kSnapshotCaption + QString::fromStdString(snapshot->index.unit)).toStdString();
        opened = db.saveBase(db.basePath);
    }
    if (!opened) {
        showNoDatabase();
        return;
    }
    isUnnamed = true;
    unnamedName_ = title + kReadOnlyMark;
    rebuildTree();
    expandAndSelectRoot();
    applyShellState(stSaved);
}

void Tfrm_main::bt_SaveClick() {
    if (shellState == stModified && isUnnamed)
        mn_SaveAsClick();
    else
        mn_SaveClick();
}

bool Tfrm_main::mayOverwriteOnDisk(atomic_file::EditLock& lock) {
    // Held while asking and saving: another program's save in between would otherwise be lost all the same.
    std::string error;
    if (!lock.acquire(db.basePath, kEditWaitMs, &error)) {
        zirezid::showMessage(this, kFileBusy.arg(QString::fromStdString(error)), true);
        return false;
    }
    if (!db.changedOnDisk())
        return true;
    return frm_msg_warn_query->askYesNoCancel(kChangedOnDisk.arg(QString::fromStdString(db.basePath))) == mrYes;
}

void Tfrm_main::mn_SaveClick() {
    commitEditor();
    const ShellState before = shellState;
    atomic_file::EditLock lock;
    if (!mayOverwriteOnDisk(lock))
        return;
    applyShellState(stBusy);
    if (db.saveBase(db.basePath)) {
        isUnnamed = false;
        applyShellState(stSaved);
    } else {
        // The failure has been shown; the changes are still unsaved.
        applyShellState(before);
    }
}

void Tfrm_main::mn_SaveAsClick() {
    commitEditor();
    const QString path = askFileName(FileDialogKind::Save, kSaveTitle, QString::fromStdString(db.basePath));
    if (path.isEmpty() || db.root == nullptr)
        return;
    const ShellState before = shellState;
    atomic_file::EditLock lock;
    if (path.toStdString() == db.basePath && !mayOverwriteOnDisk(lock))
        return;
    applyShellState(stBusy);
    const std::string oldPath = db.basePath;
    const std::string oldCaption = db.root->description;
    db.basePath = path.toStdString();
    db.root->description = (kRootCaption + fileNameOf(path)).toStdString();
    if (db.saveBase(path.toStdString())) {
        isUnnamed = false;
        rememberFile(path);
        if (db.root->node != nullptr)
            db.root->node->setText(db.root->getDescription());
        db.root->refreshNode();
        applyShellState(stSaved);
    } else {
        db.basePath = oldPath;
        db.root->description = oldCaption;
        applyShellState(before);
    }
}

void Tfrm_main::mn_ExitClick() { close(); }

void Tfrm_main::closeEvent(QCloseEvent* event) {
    if (shellState == stBusy) {
        event->ignore();
        return;
    }
    commitEditor();
    if (shellState == stModified && !askSaveChanges()) {
        event->ignore();
        return;
    }
    if (isConnected) {
        frm_read->closeSession();
        isConnected = false;
    }
    Preferences::writeWindowLayout(saveGeometry(), Splitter1->saveState());
    event->accept();
}

void Tfrm_main::mn_DeviceConfigClick() {
    QStringList names;
    int currentRow = -1;
    for (std::size_t i = 0; i < unitConfigTable.size(); ++i) {
        names << QString::fromStdString(unitConfigTable[i].name);
        if (unitConfigTable[i].id == db.currentConfig.id)
            currentRow = static_cast<int>(i);
    }
    const int row = frm_new->choose(names, currentRow);
    if (row < 0 || row >= static_cast<int>(unitConfigTable.size()))
        return;
    const int newId = unitConfigTable[static_cast<std::size_t>(row)].id;
    if (newId == db.currentConfig.id)
        return;
    if (shellState == stNoBase) {
        db.selectUnitConfig(newId);
    } else {
        commitEditor();
        const QString question = newId < db.currentConfig.id ? kConvertLossy : kConvert;
        if (frm_msg_warn_query->askYesNoCancel(question) != mrYes)
            return;
        if (QTreeWidgetItem* current = kt_treeview->currentItem())
            if (KT_TABLE* object = static_cast<TreeNodeItem*>(current)->data())
                object->hideEditor();
        for (TKT_EDITOR* frame : frames.all())
            frame->unbind();
        db.selectUnitConfig(newId);
        db.convertBase();
        rebuildTree();
        if (db.root != nullptr)
            db.root->showEditor(pnl_editor, static_cast<host::WindowHandle>(static_cast<EditorOwner*>(this)));
    }
    Preferences::writeConfigId(newId);
    applyShellState(shellState);
}

void Tfrm_main::mnCOMClick() {
    int chosen = comPortNumber;
    if (frm_ComPort->choose(chosen))
        comPortNumber = chosen;
    Preferences::writeComPort(comPortNumber);
    applyShellState(shellState);
}

void Tfrm_main::bt_ConnectClick() {
    if (isConnected)
        mn_DisconnectClick();
    else
        mn_ConnectClick();
}

void Tfrm_main::mn_ConnectClick() {
    commitEditor();
    const ShellState remembered = shellState;
    applyShellState(stBusy);
    frm_read->comPortNumber = comPortNumber;
    const bool connected = frm_read->openSession();
    setShellState(remembered, connected);
}

void Tfrm_main::mn_DisconnectClick() {
    const ShellState remembered = shellState;
    applyShellState(stBusy);
    frm_read->closeSession();
    setShellState(remembered, false);
}

void Tfrm_main::runDeviceJob(bool write) {
    commitEditor();
    if (frm_read->grd->rowCount() > 0)
        frm_read->grd->setCurrentCell(0, 0);
    frm_read->setWindowTitle(write ? kWriteCaption : kReadCaption);
    frm_read->writeMode = write;
    frm_read->linkObjects.clear();
    frm_read->comPortNumber = comPortNumber;
    QTreeWidgetItem* current = kt_treeview->currentItem();
    if (current != nullptr)
        if (KT_TABLE* object = static_cast<TreeNodeItem*>(current)->data())
            object->hideEditor();
    if (db.root != nullptr)
        fillMarkList(*db.root, frm_read->linkObjects);
    if (frm_read->linkObjects.empty()) {
        zirezid::showMessage(this, write ? kNothingToWrite : kNothingToRead);
        if (current != nullptr)
            kt_treeviewChange(current, nullptr);
        return;
    }
    // Whether the messages fit the unit's memory, then the call flow, are checked before anything goes to the
    // unit; the technician may stop at either and mend it.
    std::vector<std::string> written;
    for (const auto& [caption, object] : frm_read->linkObjects)
        written.push_back(object->name);
    if (write && (!confirmMessagesFit(frm_read->linkObjects) || !preWriteCheckAllows(*this, written))) {
        if (current != nullptr && kt_treeview->currentItem() == current)
            kt_treeviewChange(current, nullptr);
        return;
    }
    const QList<int> shown = pathOf(current);
    frm_read->exec();
    if (!write) {
        rebuildTree(); // a read may have changed captions and contents
        // The rebuilt tree selects the object shown before, which shows its frame (and only that frame).
        selectPath(shown);
    }
}

void Tfrm_main::mn_ReadClick() { runDeviceJob(false); }

void Tfrm_main::mn_WriteClick() { runDeviceJob(true); }

void Tfrm_main::mn_DateTimeClick() { frm_clock->exec(); }

void Tfrm_main::mnAboutClick() { frm_about->exec(); }

} // namespace zirezid
