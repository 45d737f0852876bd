#include "editors/ted_menu.h"

#include "audio/import.h"
#include "editors/message_audio.h"

#include "model/actions.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QAudioOutput>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QScrollArea>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace zirezid {

namespace {
const QString kCopyFrom = QStringLiteral("Копировать из:");
const QString kPageMain = QStringLiteral("Основные");
const QString kGroupMain = QStringLiteral("Основные ");
const QString kDescLabel = QStringLiteral("Описание меню");
const QString kMessageGroup = QStringLiteral("Сообщение");
const QString kFileNameLabel = QStringLiteral("Имя файла: ");
const QString kBrowse = QStringLiteral("Обзор  ...");
const QString kClear = QStringLiteral("Очистить ...");
const QString kCallSlp = QStringLiteral("Звонить на оператора во время сообщения");
const QString kSlpLine = QStringLiteral("Линия оператора:");
const QString kPageActions = QStringLiteral("Действия");
const QString kGroupActions = QStringLiteral("Действия");
const QString kTimeoutRow = QStringLiteral("Таймаут");
const QString kDigitRow = QStringLiteral("ввод ");
const QString kWaitLabel = QStringLiteral("Ждать, с:");
const QString kWaitHint = QStringLiteral("Время ожидания ответа, с");
const QString kThenLabel = QStringLiteral("Потом:");
const QString kChooseMenu = QStringLiteral("Выбрать меню");
const QString kChooseOperator = QStringLiteral("Выбрать оператора");
const QString kChooseMailbox = QStringLiteral("Выбрать почтовый ящик");
const QString kAllOperators = QStringLiteral("Все операторы");
const QString kOperator = QStringLiteral("Оператор ");
const QString kOpenTitle = QStringLiteral("файлы сообщений");
const QString kOpenFilter =
    QStringLiteral("Звуковые файлы (*.wav *.mp3 *.flac *.ogg *.oga *.opus *.aif *.aiff *.au);;Все файлы (*)");
const QString kPlayerError = QStringLiteral("Ошибка ");
const QString kCopyQuestion = QStringLiteral("Копировать данные из ");
const QString kCopyInto = QStringLiteral(" в ");
const QString kWaitNotNumber = QStringLiteral("Время ожидания должно быть целым числом секунд: ");
const QString kPlayerNoAnswer = QStringLiteral("проигрыватель не ответил");
// How long a file may take to open before the player counts as failed; a WAV opens at once.
constexpr int kOpenWaitMs = 5000;

// Drop-down heights.
constexpr int kLongList = 20;
constexpr int kNextMenuList = 15;

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

QToolButton* playerButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(icon));
    return button;
}

void setItems(QComboBox* combo, const QStringList& items) {
    if (combo->count() == items.size()) {
        bool same = true;
        for (int i = 0; i < items.size() && same; ++i)
            same = combo->itemText(i) == items[i];
        if (same)
            return;
    }
    combo->clear();
    combo->addItems(items);
    // The lists are narrow in the rows; the drop-down shows the entries whole.
    combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) + 24);
}

// Selects the entry at the position; a position outside the list selects nothing.
void selectPosition(QComboBox* combo, int position) {
    combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
}

void showControl(QWidget* control, bool visible) {
    control->setVisible(visible);
    control->setEnabled(visible);
}
} // namespace

// ---- KtWavePlayer ----

KtWavePlayer::KtWavePlayer(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("mp1"));
    setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    bt_Play = playerButton(this, "bt_Play", QStyle::SP_MediaPlay);
    bt_Pause = playerButton(this, "bt_Pause", QStyle::SP_MediaPause);
    bt_Stop = playerButton(this, "bt_Stop", QStyle::SP_MediaStop);
    row->addWidget(bt_Play);
    row->addWidget(bt_Pause);
    row->addWidget(bt_Stop);
    renewPlayer();
    connect(bt_Play, &QToolButton::clicked, this, [this] { player->play(); });
    connect(bt_Pause, &QToolButton::clicked, this, [this] { player->pause(); });
    connect(bt_Stop, &QToolButton::clicked, this, [this] { player->stop(); });
    setEnabled(false);
}

KtWavePlayer::~KtWavePlayer() { player->stop(); }

void KtWavePlayer::renewPlayer() {
    // A GStreamer pipeline that once failed on a file keeps failing on every file after it ("Internal data
    // stream error"); each file gets a player of its own.
    delete player;
    delete output_;
    output_ = new QAudioOutput(this);
    player = new QMediaPlayer(this);
    player->setAudioOutput(output_);
}

bool KtWavePlayer::open(const QString& path, int& errorNumber, QString& errorText) {
    close();
    renewPlayer();
    fileName_ = path;
    player->setSource(QUrl::fromLocalFile(path));
    const auto settled = [this] {
        const QMediaPlayer::MediaStatus s = player->mediaStatus();
        return player->error() != QMediaPlayer::NoError ||
               (s != QMediaPlayer::LoadingMedia && s != QMediaPlayer::NoMedia);
    };
    if (!settled()) {
        // The back end opens the file on its own thread; user input waits meanwhile so nothing can rebind the
        // editor under the load.
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(player, &QMediaPlayer::mediaStatusChanged, &loop, [&] {
            if (settled())
                loop.quit();
        });
        connect(player, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
        guard.start(kOpenWaitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    const QMediaPlayer::MediaStatus status = player->mediaStatus();
    if (player->error() == QMediaPlayer::NoError &&
        (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia ||
         status == QMediaPlayer::BufferingMedia)) {
        setEnabled(true);
        return true;
    }
    errorNumber = static_cast<int>(player->error());
    errorText = player->error() != QMediaPlayer::NoError ? player->errorString() : kPlayerNoAnswer;
    close();
    return false;
}

void KtWavePlayer::close() {
    setEnabled(false);
    player->stop();
    player->setSource(QUrl());
    fileName_.clear();
}

// ---- Ted_menu ----

Ted_menu::Ted_menu(QWidget* parent) : TKT_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_menu"));
    setHeadingPicture(headingPicture(5));
    auto* top = new QVBoxLayout(pnl_middle);
    top->setContentsMargins(4, 4, 4, 4);

    auto* copyBar = new QHBoxLayout;
    copyBar->addStretch();
    copyBar->addWidget(new QLabel(kCopyFrom, pnl_middle));
    cb_Copy = new QComboBox(pnl_middle);
    cb_Copy->setObjectName(QStringLiteral("cb_Copy"));
    cb_Copy->setMaxVisibleItems(kLongList);
    cb_Copy->setMinimumContentsLength(18);
    copyBar->addWidget(cb_Copy);
    top->addLayout(copyBar);

    pages = new QTabWidget(pnl_middle);
    pages->setObjectName(QStringLiteral("pages"));
    top->addWidget(pages, 1);

    // Page "Основные".
    auto* mainPage = new QWidget(pages);
    auto* mainLayout = new QVBoxLayout(mainPage);
    auto* mainGroup = new QGroupBox(kGroupMain, mainPage);
    auto* mainGrid = new QVBoxLayout(mainGroup);
    mainGrid->addWidget(new QLabel(kDescLabel, mainGroup));
    me_Desc = new KtMaskEdit(mainGroup);
    me_Desc->setObjectName(QStringLiteral("me_Desc"));
    mainGrid->addWidget(me_Desc);

    auto* messageGroup = new QGroupBox(kMessageGroup, mainGroup);
    auto* messageGrid = new QGridLayout(messageGroup);
    messageGrid->addWidget(new QLabel(kFileNameLabel, messageGroup), 0, 0);
    me_Message = new KtMaskEdit(messageGroup);
    me_Message->setObjectName(QStringLiteral("me_Message"));
    me_Message->setReadOnly(true);
    QPalette grey = me_Message->palette();
    grey.setColor(QPalette::Base, palette().color(QPalette::Window));
    me_Message->setPalette(grey);
    messageGrid->addWidget(me_Message, 0, 1, 1, 3);
    btOpen = new QPushButton(kBrowse, messageGroup);
    btOpen->setObjectName(QStringLiteral("btOpen"));
    btRemove = new QPushButton(kClear, messageGroup);
    btRemove->setObjectName(QStringLiteral("btRemove"));
    mp1 = new KtWavePlayer(messageGroup);
    messageGrid->addWidget(btOpen, 1, 1);
    messageGrid->addWidget(btRemove, 1, 2);
    messageGrid->addWidget(mp1, 1, 3, Qt::AlignRight);
    pnl_Audio = new MessageAudioPanel(messageGroup);
    messageGrid->addWidget(pnl_Audio, 2, 0, 1, 4);
    mainGrid->addWidget(messageGroup);

    auto* operatorGroup = new QGroupBox(mainGroup);
    auto* operatorGrid = new QGridLayout(operatorGroup);
    ch_CallSlpOnStart = new QCheckBox(kCallSlp, operatorGroup);
    ch_CallSlpOnStart->setObjectName(QStringLiteral("ch_CallSlpOnStart"));
    operatorGrid->addWidget(ch_CallSlpOnStart, 0, 0, 1, 2);
    operatorGrid->addWidget(new QLabel(kSlpLine, operatorGroup), 1, 0);
    cb_SlpIndex = new QComboBox(operatorGroup);
    cb_SlpIndex->setObjectName(QStringLiteral("cb_SlpIndex"));
    operatorGrid->addWidget(cb_SlpIndex, 1, 1);
    mainGrid->addWidget(operatorGroup);
    mainGrid->addStretch();
    mainLayout->addWidget(mainGroup);
    pages->addTab(mainPage, kPageMain);

    // Page "Действия".
    auto* actionPage = new QWidget(pages);
    auto* actionLayout = new QVBoxLayout(actionPage);
    auto* actionGroup = new QGroupBox(kGroupActions, actionPage);
    auto* actionGrid = new QGridLayout(actionGroup);
    actionGrid->setVerticalSpacing(3);
    static const char* const keys[] = {"ActionTO",      "ActionDTMF[1]", "ActionDTMF[2]", "ActionDTMF[3]",
                                       "ActionDTMF[4]", "ActionDTMF[5]", "ActionDTMF[6]", "ActionDTMF[7]",
                                       "ActionDTMF[8]", "ActionDTMF[9]", "ActionDTMF[0]"};
    for (int r = 0; r < 11; ++r) {
        const QString nn = twoDigits(r);
        ActionRow row{};
        row.key = keys[r];
        row.label = new QLabel(r == 0 ? kTimeoutRow : kDigitRow + QString::number(r == 10 ? 0 : r), actionGroup);
        row.cb_1 = new QComboBox(actionGroup);
        row.cb_1->setObjectName(QStringLiteral("cb_1") + nn);
        row.cb_1->setMaxVisibleItems(kLongList);
        // The kind is read whole: the column takes the longest kind's width.
        row.cb_1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        row.cb_2 = new QComboBox(actionGroup);
        row.cb_2->setObjectName(QStringLiteral("cb_2") + nn);
        row.cb_2->setMinimumContentsLength(12);
        row.cb_2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        row.st_2 = new QLabel(kWaitLabel, actionGroup);
        row.st_2->setObjectName(QStringLiteral("st_2") + nn);
        row.ed_2 = new QLineEdit(actionGroup);
        row.ed_2->setObjectName(QStringLiteral("ed_2") + nn);
        row.ed_2->setMaxLength(2);
        row.ed_2->setFixedWidth(32);
        if (r != 10)
            row.ed_2->setToolTip(kWaitHint);
        row.st_3 = new QLabel(kThenLabel, actionGroup);
        row.st_3->setObjectName(QStringLiteral("st_3") + nn);
        row.cb_3 = new QComboBox(actionGroup);
        row.cb_3->setObjectName(QStringLiteral("cb_3") + nn);
        row.cb_3->setMaxVisibleItems(kNextMenuList);
        row.cb_3->setMinimumContentsLength(10);
        row.cb_3->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        actionGrid->addWidget(row.label, 2 * r, 0);
        actionGrid->addWidget(row.cb_1, 2 * r, 1);
        actionGrid->addWidget(row.cb_2, 2 * r, 2);
        // The wait and the next menu of an operator call go on a line of their own under the row: beside the
        // kind and the operator they would squeeze every list of the row to a few letters.
        auto* callLine = new QHBoxLayout;
        callLine->setContentsMargins(0, 0, 0, 0);
        callLine->addWidget(row.st_2);
        callLine->addWidget(row.ed_2);
        callLine->addSpacing(8);
        callLine->addWidget(row.st_3);
        callLine->addWidget(row.cb_3, 1);
        actionGrid->addLayout(callLine, 2 * r + 1, 1, 1, 2);
        rows.push_back(row);
    }
    actionGrid->setColumnStretch(2, 1);
    actionGrid->setRowStretch(22, 1);
    // Several operator calls take a second line each; the rows then scroll instead of growing the window.
    auto* actionScroll = new QScrollArea(actionPage);
    actionScroll->setObjectName(QStringLiteral("actionScroll"));
    actionScroll->setFrameShape(QFrame::NoFrame);
    actionScroll->setWidgetResizable(true);
    actionScroll->setWidget(actionGroup);
    actionLayout->addWidget(actionScroll);
    pages->addTab(actionPage, kPageActions);

    connect(btOpen, &QPushButton::clicked, this, [this] {
        if (attached())
            btOpenClick();
    });
    connect(btRemove, &QPushButton::clicked, this, [this] {
        if (attached())
            btRemoveClick();
    });
    connect(cb_Copy, &QComboBox::activated, this, [this](int index) {
        if (attached())
            cb_CopyChange(index);
    });
    pnl_Audio->beforeRewrite = [this] { mp1->close(); };
    pnl_Audio->folder = [this] { return messageFolder(); };
    pnl_Audio->messageWritten = [this](const QString& name) {
        if (boundObject == nullptr)
            return;
        loadPlayer(messageFolder() + name);
        me_Message->setText(name);
        controlExit(me_Message);
        messageFileChanged();
    };
    chooseMessageFile = [this](const QString& folder) {
        return QFileDialog::getOpenFileName(this, kOpenTitle, folder, kOpenFilter);
    };
}

Ted_menu::~Ted_menu() = default;

KT_TABLE* Ted_menu::rootTable() const {
    KT_TABLE* t = boundObject;
    while (t != nullptr && t->ownerRecord != nullptr && t->ownerRecord->ownerTable != nullptr)
        t = t->ownerRecord->ownerTable;
    return t;
}

QStringList Ted_menu::menuList() const {
    QStringList list;
    KT_TABLE* root = rootTable();
    if (KT_TABLE* menus = root != nullptr ? root->findTable("MENUS") : nullptr)
        for (int i = 0; i < menus->childCount(); ++i)
            if (KT_TABLE* menu = menus->tableAt(i))
                list << QString::fromStdString(menu->getDescription());
    return list;
}

QStringList Ted_menu::mailboxList() const {
    QStringList list;
    KT_TABLE* root = rootTable();
    if (KT_TABLE* boxes = root != nullptr ? root->findTable("MAILBOXES") : nullptr)
        for (int i = 0; i < boxes->childCount(); ++i)
            if (KT_TABLE* box = boxes->tableAt(i))
                list << QString::fromStdString(box->getDescription());
    return list;
}

QStringList Ted_menu::operatorList() const {
    int lines = 0;
    if (database != nullptr) {
        lines = database->currentConfig.lines;
    } else if (KT_TABLE* root = rootTable()) {
        if (KT_TABLE* slps = root->findTable("SLPS"))
            lines = slps->childCount();
    }
    QStringList list{kAllOperators};
    for (int k = 1; k <= lines; ++k)
        list << kOperator + QString::number(k);
    return list;
}

QString Ted_menu::messageFolder() const {
    if (boundObject == nullptr || database == nullptr)
        return QString();
    return QString::fromStdString(database->messagesFolder + boundObject->valueText + "01/");
}

Ted_menu::ActionRow* Ted_menu::rowOf(const QWidget* control) {
    for (ActionRow& row : rows)
        if (control == row.cb_1 || control == row.cb_2 || control == row.ed_2 || control == row.cb_3)
            return &row;
    return nullptr;
}

void Ted_menu::bindObject(KT_TABLE* object) {
    unbindControls();
    boundObject = object;
    stCaption->setText(object != nullptr ? QString::fromStdString(object->getDescription()) : QString());
    if (object == nullptr) {
        mp1->close();
        pnl_Audio->setMessage(QString());
        return;
    }
    loadControl(me_Desc, "Desc");
    loadControl(me_Message, "Message");
    mp1->close();
    pnl_Audio->setMessage(QString());
    if (KT_RECORD* message = object->findChild("Message")) {
        const QString path = messageFolder() + QString::fromStdString(message->getEditText());
        if (loadPlayer(path))
            pnl_Audio->setMessage(path);
    }

    loadControl(ch_CallSlpOnStart, "CallSLPOnStart");
    const QStringList operators = operatorList();
    setItems(cb_SlpIndex, operators);
    cb_SlpIndex->setMaxVisibleItems(qMax(1, static_cast<int>(operators.size())));
    loadControl(cb_SlpIndex, "SLPIndex");
    if (KT_RECORD* slp = tag(cb_SlpIndex)) {
        selectPosition(cb_SlpIndex, QString::fromStdString(slp->getEditText()).toInt());
        cb_SlpIndex->setToolTip(kChooseOperator);
    }
    enableSlpIndex();

    QStringList kinds;
    for (ActionRow& row : rows) {
        KT_RECORD* record = object->findChild(row.key);
        for (QWidget* w : {static_cast<QWidget*>(row.cb_1), static_cast<QWidget*>(row.cb_2),
                           static_cast<QWidget*>(row.ed_2), static_cast<QWidget*>(row.cb_3)})
            setTag(w, record);
        auto* action = record != nullptr ? kt_cast<KT_ACTION>(record->value.get()) : nullptr;
        row.cb_1->setEnabled(action != nullptr);
        if (action == nullptr)
            continue;
        if (kinds.isEmpty() && action->actions != nullptr) {
            KT_STRING_LIST lines;
            action->actions->fillList(lines);
            for (const KT_LIST_LINE& line : lines)
                kinds << QString::fromStdString(line.text);
        }
        setItems(row.cb_1, kinds);
        row.cb_1->setToolTip(QString::fromStdString(record->description));
        showRow(row);
    }

    setItems(cb_Copy, menuList());
    cb_Copy->setCurrentIndex(-1);
    TKT_EDITOR::bindObject(object);
}

void Ted_menu::showRow(ActionRow& row) {
    KT_RECORD* record = tag(row.cb_1);
    auto* action = record != nullptr ? kt_cast<KT_ACTION>(record->value.get()) : nullptr;
    if (action == nullptr)
        return;
    showingRow_ = true;
    selectPosition(row.cb_1, action->getInt());
    const QString p = QString::fromStdString(action->getEditText());
    if (action->param == nullptr) {
        for (QWidget* w :
             {static_cast<QWidget*>(row.cb_2), static_cast<QWidget*>(row.st_2), static_cast<QWidget*>(row.ed_2),
              static_cast<QWidget*>(row.st_3), static_cast<QWidget*>(row.cb_3)})
            showControl(w, false);
        showingRow_ = false;
        return;
    }
    showControl(row.cb_2, true);
    const int first = p.left(2).toInt();
    const bool slp = action->name == kActionToSlp;
    if (action->name == kActionToMenu) {
        setItems(row.cb_2, menuList());
        row.cb_2->setMaxVisibleItems(kLongList);
        row.cb_2->setToolTip(kChooseMenu);
    } else if (slp) {
        const QStringList operators = operatorList();
        setItems(row.cb_2, operators);
        row.cb_2->setMaxVisibleItems(qMax(1, static_cast<int>(operators.size())));
        row.cb_2->setToolTip(kChooseOperator);
    } else if (action->name == kActionLvMsg) {
        const QStringList boxes = mailboxList();
        setItems(row.cb_2, boxes);
        row.cb_2->setMaxVisibleItems(qMax(1, static_cast<int>(boxes.size())));
        row.cb_2->setToolTip(kChooseMailbox);
    } else {
        showingRow_ = false;
        return;
    }
    selectPosition(row.cb_2, first);
    for (QWidget* w : {static_cast<QWidget*>(row.st_2), static_cast<QWidget*>(row.ed_2),
                       static_cast<QWidget*>(row.st_3), static_cast<QWidget*>(row.cb_3)})
        showControl(w, slp);
    if (slp) {
        row.ed_2->setText(QString::number(p.mid(2, 2).toInt()));
        setItems(row.cb_3, menuList());
        selectPosition(row.cb_3, p.mid(4, 2).toInt());
    }
    showingRow_ = false;
}

void Ted_menu::rowChanged(ActionRow& row) {
    KT_RECORD* record = tag(row.cb_1);
    auto* action = record != nullptr ? kt_cast<KT_ACTION>(record->value.get()) : nullptr;
    if (action == nullptr || showingRow_)
        return;
    const int oldKind = action->getInt();
    if (row.cb_1->currentIndex() >= 0)
        record->setInt(row.cb_1->currentIndex());
    const int newKind = action->getInt();
    if (action->param == nullptr) {
        showRow(row);
        return;
    }
    const QString current = QString::fromStdString(action->getEditText());
    // A list that shows no entry (its stored number lies beyond the list) keeps its part of the parameter.
    const auto part = [&](const QComboBox* combo, int at) {
        return combo->currentIndex() >= 0 ? twoDigits(combo->currentIndex()) : current.mid(at, 2);
    };
    QString text;
    if (newKind != oldKind) {
        text = QString::fromStdString(action->param->defaultText);
    } else if (action->name == kActionToMenu || action->name == kActionLvMsg) {
        text = part(row.cb_2, 0);
    } else if (action->name == kActionToSlp) {
        bool whole = false;
        const int wait = row.ed_2->text().trimmed().toInt(&whole);
        if (!whole || wait < 0) {
            host::current().showMessage((kWaitNotNumber + row.ed_2->text()).toStdString(), host::MessageIcon::Error);
            showRow(row);
            return;
        }
        text = part(row.cb_2, 0) + twoDigits(wait) + part(row.cb_3, 4);
    } else {
        text = current;
    }
    record->setEditText(text.toStdString());
    showRow(row);
}

void Ted_menu::enableSlpIndex() {
    cb_SlpIndex->setEnabled(tag(cb_SlpIndex) != nullptr && ch_CallSlpOnStart->isChecked());
}

void Ted_menu::controlExit(QWidget* control) {
    if (control == cb_Copy)
        return; // leaving the copy list does nothing; picking an entry copies
    if (ActionRow* row = rowOf(control)) {
        rowChanged(*row);
        return;
    }
    TKT_EDITOR::controlExit(control);
    if (control == ch_CallSlpOnStart)
        enableSlpIndex();
}

void Ted_menu::controlClick(QWidget* control) {
    if (control == ch_CallSlpOnStart) {
        TKT_EDITOR::controlClick(control);
        enableSlpIndex();
        return;
    }
    if (qobject_cast<QToolButton*>(control) != nullptr)
        return; // the player's buttons serve no field
    TKT_EDITOR::controlClick(control);
}

bool Ted_menu::controlKeyPress(QWidget* control, char32_t key) {
    if (control == me_Message)
        return false; // the name changes only through the two buttons
    if (ActionRow* row = rowOf(control); row != nullptr && control == row->ed_2)
        return key == kBackspace || (key >= '0' && key <= '9');
    return TKT_EDITOR::controlKeyPress(control, key);
}

bool Ted_menu::loadPlayer(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        mp1->close();
        return false;
    }
    int number = 0;
    QString text;
    if (mp1->open(path, number, text))
        return true;
    host::current().showMessage((kPlayerError + QString::number(number) + QStringLiteral(": ") + text).toStdString(),
                                host::MessageIcon::Error);
    return false;
}

void Ted_menu::btOpenClick() {
    if (boundObject == nullptr || !chooseMessageFile)
        return;
    const QString folderStart = database != nullptr ? QString::fromStdString(database->messagesFolder) : QString();
    const QString folder = messageFolder();
    if (folder.isEmpty())
        return; // no database to keep the copy in
    const QString chosen = chooseMessageFile(folderStart);
    if (chosen.isEmpty())
        return;
    // Whatever the file's format, the menu keeps a 16-bit PCM WAV of it under the chosen name.
    const QString target = folder + QFileInfo(chosen).completeBaseName() + QStringLiteral(".wav");
    mp1->close();
    pnl_Audio->setMessage(QString());
    // The messages folder itself may not exist yet (a database never saved with messages).
    std::error_code error;
    std::filesystem::create_directories(folder.toStdString(), error);
    // Decoded whole before the target is touched, then written through the crash-safe writer: choosing the
    // menu's own file keeps it, and a failed write leaves the older message as it was.
    std::string reason;
    // A long file takes seconds to decode: the hourglass says the window is working, not hung.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool imported = audio::importFile(chosen.toStdString(), target.toStdString(), {}, &reason);
    QApplication::restoreOverrideCursor();
    if (!imported) {
        host::current().showMessage(reason, host::MessageIcon::Error);
        if (KT_RECORD* message = boundObject->findChild("Message"))
            if (loadPlayer(folder + QString::fromStdString(message->getEditText())))
                pnl_Audio->setMessage(folder + QString::fromStdString(message->getEditText()));
        return;
    }
    if (!loadPlayer(target))
        return;
    pnl_Audio->setMessage(target);
    me_Message->setText(QFileInfo(target).fileName());
    controlExit(me_Message);
    messageFileChanged();
}

void Ted_menu::messageFileChanged() {
    // The name may be the same as before while the sound is new: the menu must still count as changed, or
    // the next write would leave the unit playing the old message.
    if (boundObject != nullptr && boundObject->markState != kMarkChanged) {
        boundObject->markState = kMarkChanged;
        boundObject->refreshNode();
        markUp(*boundObject, kMarkChanged);
    }
    if (messageChanged)
        messageChanged();
}

void Ted_menu::btRemoveClick() {
    if (boundObject == nullptr)
        return;
    mp1->close();
    pnl_Audio->setMessage(QString());
    me_Message->setText(QStringLiteral("-"));
    controlExit(me_Message);
}

void Ted_menu::cb_CopyChange(int index) {
    KT_TABLE* root = rootTable();
    KT_TABLE* menus = root != nullptr ? root->findTable("MENUS") : nullptr;
    KT_TABLE* source = menus != nullptr ? menus->tableAt(index) : nullptr;
    if (boundObject == nullptr || source == nullptr)
        return;
    const QString sourceText = cb_Copy->itemText(index);
    QString targetText = QString::fromStdString(boundObject->getDescription());
    if (const qsizetype colon = targetText.indexOf(QLatin1Char(':')); colon >= 0)
        targetText.truncate(colon);
    const QString question = kCopyQuestion + sourceText + kCopyInto + targetText + QStringLiteral("?");
    bool yes = false;
    if (askCopy) {
        yes = askCopy(question);
    } else {
        yes = QMessageBox::question(this, QString::fromLatin1(host::applicationTitle), question,
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                    QMessageBox::No) == QMessageBox::Yes;
    }
    if (!yes || source == boundObject) {
        cb_Copy->setCurrentIndex(-1);
        return;
    }
    KT_TABLE* target = boundObject;
    // Fields pair by position; the source's stored text goes through each field's own change handling.
    const int count = qMin(source->childCount(), target->childCount());
    for (int i = 0; i < count; ++i) {
        KT_RECORD* from = source->childAt(i);
        KT_RECORD* to = target->childAt(i);
        if (from != nullptr && to != nullptr && from->table() == nullptr && to->table() == nullptr)
            to->setText(from->getText());
    }
    bindObject(target);
}

} // namespace zirezid
