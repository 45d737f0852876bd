#include "app/read_dialog.h"

#include "app/message_boxes.h"
#include "app/startup.h"
#include "link/device_link.h"
#include "model/message_staging.h"
#include "model/unit_config.h"
#include "model/host.h"
#include "serial/comm.h"
#include "serial/device_name.h"
#include "serial/port_survey.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kObjectHeader = QStringLiteral("Объект");
const QString kStatusHeader = QStringLiteral("Статус");
const QString kStartRead = QStringLiteral("Старт чтения");
const QString kStartWrite = QStringLiteral("Старт записи");
const QString kStop = QStringLiteral("Стоп");
const QString kLoadMessages = QStringLiteral("загружать файлы сообщений");
const QString kSaveToBase = QStringLiteral("Записать в БД");
const QString kClose = QStringLiteral("Закрыть");
// The port checks made before the link tries it: they say what the technician can do about it.
const QString kPortMissing = QStringLiteral("Порт COM%1 (%2) не найден. Проверьте подключение кабеля и выбор порта "
                                            "в меню \"Настройки\" → \"COM порт...\".");
// Followed by the port diagnosis: what stands in the way and what to do.
const QString kPortUnusable = QStringLiteral("Порт COM%1 (%2) нельзя открыть.\n\n");
// What the window adds to the link's message about a dead line.
const QString kLineLostDetail = QStringLiteral("Сообщение порта: %1");

constexpr int kWidth = 499;
constexpr int kHeight = 422;

// The dialog's state table. "Mode" entries are enabled in their own mode only.
enum class On { No, Yes, ReadMode, WriteMode };
struct DialogStateRow {
    On read, write, stop, save, close;
    bool busyCursor;
};
// Every state has its row; the compiler checks that none is left out.
DialogStateRow rowOf(devlink::DialogState state) {
    switch (state) {
    case devlink::dsNotConnected:
        return {On::No, On::No, On::No, On::No, On::Yes, false};
    case devlink::dsReady:
        return {On::ReadMode, On::WriteMode, On::No, On::No, On::Yes, false};
    case devlink::dsBusy:
        return {On::No, On::No, On::Yes, On::No, On::No, true};
    case devlink::dsReadWithErrors:
        return {On::ReadMode, On::WriteMode, On::No, On::ReadMode, On::Yes, false};
    case devlink::dsAllRead:
        return {On::No, On::WriteMode, On::No, On::ReadMode, On::Yes, false};
    case devlink::dsAllWritten:
        return {On::ReadMode, On::No, On::No, On::No, On::Yes, false};
    case devlink::dsLostReadKept:
        return {On::No, On::No, On::No, On::ReadMode, On::Yes, false};
    }
    return rowOf(devlink::dsNotConnected);
}
} // namespace

Tfrm_read::Tfrm_read(QWidget* parent, Tfrm_msg_err_ari* errorBox, Tfrm_msg_warn_query_all* queryAllBox,
                     Tfrm_editbox* editBox)
    : QDialog(parent), errorBox_(errorBox), queryAllBox_(queryAllBox), editBox_(editBox) {
    setObjectName(QStringLiteral("frm_read"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kWidth, kHeight);

    grd = new QTableWidget(this);
    grd->setObjectName(QStringLiteral("grd"));
    grd->setGeometry(8, 8, kWidth - 16, 300);
    grd->setSelectionBehavior(QAbstractItemView::SelectRows);
    grd->setSelectionMode(QAbstractItemView::SingleSelection);
    grd->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grd->verticalHeader()->hide();
    grd->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    const int buttonsTop = 316;
    bt_Read = new QPushButton(kStartRead, this);
    bt_Read->setObjectName(QStringLiteral("bt_Read"));
    bt_Read->setGeometry(8, buttonsTop, 110, 25);
    bt_Write = new QPushButton(kStartWrite, this);
    bt_Write->setObjectName(QStringLiteral("bt_Write"));
    bt_Write->setGeometry(8, buttonsTop + 32, 110, 25);
    bt_Stop = new QPushButton(kStop, this);
    bt_Stop->setObjectName(QStringLiteral("bt_Stop"));
    bt_Stop->setGeometry(126, buttonsTop, 90, 25);
    cb_isLoadMsg = new QCheckBox(kLoadMessages, this);
    cb_isLoadMsg->setObjectName(QStringLiteral("cb_isLoadMsg"));
    cb_isLoadMsg->setGeometry(8, buttonsTop + 34, 240, 22);
    bt_Save = new QPushButton(kSaveToBase, this);
    bt_Save->setObjectName(QStringLiteral("bt_Save"));
    bt_Save->setGeometry(kWidth - 8 - 110 - 8 - 90, buttonsTop, 110, 25);
    bt_Close = new QPushButton(kClose, this);
    bt_Close->setObjectName(QStringLiteral("bt_Close"));
    bt_Close->setGeometry(kWidth - 8 - 90, buttonsTop, 90, 25);
    for (QPushButton* b : {bt_Read, bt_Write, bt_Stop, bt_Save, bt_Close})
        b->setAutoDefault(false);

    sb1 = new QStatusBar(this);
    sb1->setObjectName(QStringLiteral("sb1"));
    sb1->setSizeGripEnabled(false);
    sb1->setGeometry(0, kHeight - 22, kWidth, 22);
    const int widths[3] = {70, 350, 50};
    for (int i = 0; i < 3; ++i) {
        sb1Panels[i] = new QLabel(sb1);
        sb1Panels[i]->setFixedWidth(widths[i]);
        sb1Panels[i]->setFrameShape(QFrame::Panel);
        sb1Panels[i]->setFrameShadow(QFrame::Sunken);
        sb1->addWidget(sb1Panels[i]);
    }

    lbl_Summary = new QLabel(this);
    lbl_Summary->setObjectName(QStringLiteral("lbl_Summary"));
    lbl_Summary->setGeometry(8, buttonsTop + 32, kWidth - 16, kHeight - 22 - buttonsTop - 34);
    lbl_Summary->setWordWrap(true);
    lbl_Summary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbl_Summary->hide();

    wake_ = new QTimer(this);
    wake_->setSingleShot(true);
    link_ = std::make_unique<devlink::DeviceLink>(*this);

    connect(bt_Read, &QPushButton::clicked, this, &Tfrm_read::bt_ReadClick);
    connect(bt_Write, &QPushButton::clicked, this, &Tfrm_read::bt_WriteClick);
    connect(bt_Stop, &QPushButton::clicked, this, &Tfrm_read::bt_StopClick);
    connect(bt_Save, &QPushButton::clicked, this, &Tfrm_read::bt_SaveClick);
    connect(bt_Close, &QPushButton::clicked, this, &Tfrm_read::bt_CloseClick);
}

Tfrm_read::~Tfrm_read() {
    // The port's threads end before the dialog they report to goes. No logout here: it would run the event loop
    // while the windows are being torn down (closing the main window has logged out already).
    if (link_ && link_->VaComm1) {
        try {
            link_->VaComm1->Close();
        } catch (const std::exception&) {
        }
    }
    link_.reset();
}

void Tfrm_read::setDialogState(devlink::DialogState state) {
    dialogState = state;
    bt_Write->move(bt_Read->pos());
    const DialogStateRow row = rowOf(state);
    const auto on = [this](On rule) {
        switch (rule) {
        case On::No:
            return false;
        case On::Yes:
            return true;
        case On::ReadMode:
            return !writeMode;
        case On::WriteMode:
            return writeMode;
        }
        return false;
    };
    grd->setEnabled(true);
    bt_Stop->setVisible(true);
    bt_Close->setVisible(true);
    bt_Read->setVisible(!writeMode);
    cb_isLoadMsg->setVisible(!writeMode);
    bt_Save->setVisible(!writeMode);
    bt_Write->setVisible(writeMode);
    bt_Read->setEnabled(on(row.read));
    bt_Write->setEnabled(on(row.write));
    bt_Stop->setEnabled(on(row.stop));
    bt_Save->setEnabled(on(row.save));
    bt_Close->setEnabled(on(row.close));
    if (row.busyCursor && !busyCursor_) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        busyCursor_ = true;
    } else if (!row.busyCursor && busyCursor_) {
        QApplication::restoreOverrideCursor();
        busyCursor_ = false;
    }
}

void Tfrm_read::showEvent(QShowEvent* event) {
    const int count = static_cast<int>(linkObjects.size());
    sb1Panels[0]->setText(QStringLiteral("COM%1").arg(comPortNumber));
    sb1Panels[1]->clear();
    sb1Panels[1]->setToolTip(QString());
    lbl_Summary->hide();
    sb1Panels[2]->setText(QStringLiteral("0/%1").arg(count));
    grd->setEnabled(false);
    grd->clear();
    grd->setColumnCount(3);
    grd->setRowCount(count);
    grd->setHorizontalHeaderLabels({QString(), kObjectHeader, kStatusHeader});
    grd->setColumnWidth(0, 30);
    grd->setColumnWidth(1, 300);
    grd->setColumnWidth(2, grd->width() - 357);
    grd->verticalHeader()->setDefaultSectionSize(15);
    grd->horizontalHeader()->setFixedHeight(17);
    for (int k = 0; k < count; ++k) {
        QString name = QString::fromStdString(linkObjects[static_cast<std::size_t>(k)].first);
        if (!writeMode) {
            const qsizetype colon = name.indexOf(QLatin1Char(':'));
            if (colon >= 0)
                name.truncate(colon);
        }
        grd->setItem(k, 0, new QTableWidgetItem(QString::number(k + 1)));
        grd->setItem(k, 1, new QTableWidgetItem(name));
        grd->setItem(k, 2, new QTableWidgetItem());
    }
    setDialogState(devlink::dsReady);
    QDialog::showEvent(event);
    if (QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
}

void Tfrm_read::clearStatusColumn() {
    for (int k = 0; k < grd->rowCount(); ++k)
        if (QTableWidgetItem* item = grd->item(k, 2))
            item->setText(QString());
    lbl_Summary->clear();
    lbl_Summary->hide();
}

void Tfrm_read::fitStatusColumn(const QString& status) {
    const int needed = grd->fontMetrics().horizontalAdvance(status) + 12;
    const int available = grd->viewport()->width() - grd->columnWidth(0);
    if (needed <= grd->columnWidth(2) || available <= 0)
        return;
    // The object's name keeps at least a third of the room.
    const int width = std::min(needed, available * 2 / 3);
    grd->setColumnWidth(2, width);
    grd->setColumnWidth(1, available - width);
}

void Tfrm_read::bt_ReadClick() {
    setDialogState(devlink::dsBusy);
    clearStatusColumn();
    const int done = readAll();
    const int count = static_cast<int>(linkObjects.size());
    if (lineLost_)
        setDialogState(done > 0 ? devlink::dsLostReadKept : devlink::dsNotConnected);
    else
        setDialogState(done == 0 ? devlink::dsReady : done == count ? devlink::dsAllRead : devlink::dsReadWithErrors);
}

void Tfrm_read::bt_WriteClick() {
    setDialogState(devlink::dsBusy);
    clearStatusColumn();
    const int done = writeAll();
    if (lineLost_)
        setDialogState(devlink::dsNotConnected);
    else
        setDialogState(done == static_cast<int>(linkObjects.size()) ? devlink::dsAllWritten : devlink::dsReady);
}

void Tfrm_read::bt_StopClick() { link_->bt_StopClick(); }

void Tfrm_read::bt_SaveClick() {
    // The downloaded messages are put beside their places first; only when all of them could be does the read
    // apply, so a full disk leaves both the database and the technician's recordings as they were.
    MessageStaging staged;
    std::string error;
    const std::string folder = link_->database != nullptr ? link_->database->messagesFolder : std::string();
    if (!link_->downloadFolder.empty() && !staged.prepare(link_->downloadFolder, folder, error)) {
        zirezid::showMessage(this, QString::fromStdString(error) + QStringLiteral("\nПрочитанное не записано в БД."),
                             true);
        return;
    }
    link_->applyPendingAnswers();
    if (!staged.commit(error))
        zirezid::showMessage(this, QString::fromStdString(error), true);
    else if (onApplied)
        onApplied();
    done(mrOk);
}

void Tfrm_read::bt_CloseClick() { done(mrCancel); }

void Tfrm_read::closeEvent(QCloseEvent* event) {
    // While a job runs only Stop may end it; the close box would pull the dialog from under the running exchange.
    if (dialogState == devlink::dsBusy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Tfrm_read::reject() {
    if (dialogState == devlink::dsBusy)
        return; // Escape during a job, like the close box, is refused
    QDialog::reject();
}

void Tfrm_read::done(int result) {
    if (dialogState == devlink::dsBusy)
        return;
    // Whatever was downloaded and not applied goes with the dialog.
    discardDownloads();
    QDialog::done(result);
    if (onClosed)
        onClosed();
}

void Tfrm_read::setDatabase(SettingsDatabase* database, const QString& tempFolder) {
    link_->database = database;
    link_->tempFolder = tempFolder.toStdString();
}

// A job that raises counts as nothing done. A port failure means the line is gone; the port's own English
// text is at most the detail line of the one Russian message.
template <class Job> int Tfrm_read::guarded(Job job) {
    int result = 0;
    QString detail;
    ++running_;
    try {
        result = job();
    } catch (const serial::EVaCommError& e) {
        lineLost_ = true;
        detail = QString::fromStdString(e.what());
    } catch (const std::exception& e) {
        zirezid::showMessage(this, QString::fromStdString(e.what()), true);
    }
    --running_;
    if (running_ == 0 && (lineLost_ || link_->lineLost()))
        endLostSession(detail);
    return result;
}

void Tfrm_read::lineLost() {
    // Told from inside the port's event processing, also while a link call runs: that call ends on its own
    // (the link has the message said), and the session is ended after it.
    lineLost_ = true;
    if (running_ == 0)
        QTimer::singleShot(0, this, [this] {
            if (running_ == 0)
                endLostSession();
        });
}

void Tfrm_read::endLostSession(const QString& detail) {
    lineLost_ = true;
    if (lostSessionEnded_)
        return;
    lostSessionEnded_ = true;
    // No logout: there is no one to answer, and waiting for an answer is what froze the window.
    try {
        link_->closeSession();
    } catch (const std::exception&) {
    }
    if (dialogState != devlink::dsBusy && isVisible())
        setDialogState(dialogState == devlink::dsReadWithErrors || dialogState == devlink::dsAllRead ||
                               dialogState == devlink::dsLostReadKept
                           ? devlink::dsLostReadKept
                           : devlink::dsNotConnected);
    // The window says "not connected" before the message is read, not after it is dismissed.
    if (onLineLost)
        onLineLost();
    if (!lineLossSaid_) {
        QString message = QString::fromUtf8(devlink::text::lineLost);
        if (!detail.isEmpty())
            message += QStringLiteral("\n\n") + kLineLostDetail.arg(detail);
        showMessage(message.toStdString(), host::applicationTitle);
    }
}

void Tfrm_read::discardDownloads() {
    if (link_->downloadFolder.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(link_->downloadFolder, ec);
}

int Tfrm_read::readAll() {
    // A read's messages wait in a folder of their own until "Записать в БД"; each read starts it empty.
    discardDownloads();
    if (!link_->tempFolder.empty()) {
        link_->downloadFolder = link_->tempFolder + "read-messages/";
        std::error_code ec;
        std::filesystem::create_directories(link_->downloadFolder, ec);
    }
    link_->linkObjects = linkObjects;
    link_->writeMode = false;
    link_->isLoadMsg = cb_isLoadMsg->isChecked();
    link_->comPortNumber = comPortNumber;
    const int done = guarded([this] { return link_->readAll(); });
    if (onRead)
        onRead(*link_);
    return done;
}

int Tfrm_read::writeAll() {
    link_->linkObjects = linkObjects;
    link_->writeMode = true;
    link_->comPortNumber = comPortNumber;
    return guarded([this] { return writeJob ? writeJob(*link_) : link_->writeAll(); });
}

bool Tfrm_read::openSession() {
    link_->comPortNumber = comPortNumber;
    // A port that is not there or not ours would only give the link's plain "cannot open"; say why instead.
    const std::string device = serial::ResolveDevicePath("COM" + std::to_string(comPortNumber));
    // Asked without opening the port: the link opens it next, and an extra open and close would pulse its lines
    // (and hang up a simulated unit's pseudo-terminal).
    const auto mayOpen = [](const std::string& path) { return ::access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno; };
    const serial::PortDiagnosis diagnosis = serial::DiagnosePort(serial::SurveyPlace{}, device, mayOpen);
    const QString where = QString::fromStdString(device);
    if (diagnosis.Problem == serial::PortDiagnosis::kMissing) {
        zirezid::showMessage(parentWidget(), kPortMissing.arg(comPortNumber).arg(where), true);
        return false;
    }
    if (!diagnosis.Opens() && diagnosis.Problem != serial::PortDiagnosis::kUnknown) {
        zirezid::showMessage(
            parentWidget(), kPortUnusable.arg(comPortNumber).arg(where) + QString::fromStdString(diagnosis.Text), true);
        return false;
    }
    lineLost_ = lostSessionEnded_ = lineLossSaid_ = false;
    const bool open = guarded([this] { return link_->openSession() ? 1 : 0; }) != 0 && !lineLost_;
    // The session ran in the busy state; whatever its end, the cursor is the user's again.
    setDialogState(open ? devlink::dsReady : devlink::dsNotConnected);
    return open;
}

void Tfrm_read::closeSession() {
    guarded([this] {
        link_->closeSession();
        return 0;
    });
    setDialogState(devlink::dsNotConnected);
}

bool Tfrm_read::getDeviceClock(QDateTime& clock) {
    devlink::DeviceDateTime value;
    if (lineLost_ || guarded([&] { return link_->getDeviceClock(value) ? 1 : 0; }) == 0)
        return false;
    clock = QDateTime(QDate(value.year, value.month, value.day), QTime(value.hour, value.minute, value.second));
    return clock.isValid();
}

void Tfrm_read::setDeviceClock(const QDateTime& clock) {
    devlink::DeviceDateTime value;
    value.year = clock.date().year();
    value.month = clock.date().month();
    value.day = clock.date().day();
    value.hour = clock.time().hour();
    value.minute = clock.time().minute();
    value.second = clock.time().second();
    if (!lineLost_)
        guarded([&] {
            link_->setDeviceClock(value);
            return 0;
        });
}

void Tfrm_read::processEvents(int maxWaitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (maxWaitMs <= 0)
        return;
    // Nothing may be pending: sleep in the event dispatcher until an event comes or the wake-up timer fires, so
    // the wait loop neither burns a core nor misses the port's notifications.
    wake_->start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wake_->stop();
}

void Tfrm_read::selectRow(int row) {
    if (row >= 1 && row <= grd->rowCount())
        grd->setCurrentCell(row - 1, 0);
}

void Tfrm_read::setRowStatus(int row, const std::string& status) {
    if (row < 1 || row > grd->rowCount())
        return;
    if (QTableWidgetItem* item = grd->item(row - 1, 2)) {
        item->setText(QString::fromStdString(status));
        item->setToolTip(item->text());
        fitStatusColumn(item->text());
    }
}

void Tfrm_read::setStatusPanel(int panel, const std::string& text) {
    if (panel < 0 || panel >= 3)
        return;
    const QString value = QString::fromStdString(text);
    sb1Panels[panel]->setText(value);
    sb1Panels[panel]->setToolTip(value);
    // A write's summary may name menus left without a message: it must be read whole, so what the panel
    // cannot hold is shown in the free room under the buttons (a read has its check box there).
    if (panel == 1) {
        const bool tooWide =
            sb1Panels[1]->fontMetrics().horizontalAdvance(value) > sb1Panels[1]->contentsRect().width();
        lbl_Summary->setText(value);
        lbl_Summary->setVisible(writeMode && tooWide);
    }
}

void Tfrm_read::showMessage(const std::string& text, const std::string& caption) {
    if (text.starts_with(devlink::text::lineLost)) {
        if (lineLossSaid_)
            return;
        lineLossSaid_ = true;
        // Said from inside a job: the window shows "not connected" already while the message is read.
        lineLost_ = true;
        if (onLineLost)
            onLineLost();
    }
    const QString message = QString::fromStdString(text);
    QWidget* parent = isVisible() ? static_cast<QWidget*>(this) : parentWidget();
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), message, QMessageBox::Ok, parent);
    box.exec();
}

int Tfrm_read::askAbortRetryIgnore(const std::string& text, bool allowSkip) {
    const QString message = QString::fromStdString(text);
    return allowSkip ? errorBox_->askAbortRetryIgnore(message) : errorBox_->askAbortRetry(message);
}

int Tfrm_read::askYesNoAll(const std::string& text) { return queryAllBox_->askYesNoAll(QString::fromStdString(text)); }

bool Tfrm_read::editText(const std::string& caption, const std::string& label, std::string& text) {
    QString value = QString::fromStdString(text);
    if (!editBox_->ask(QString::fromStdString(caption), QString::fromStdString(label), value))
        return false;
    text = value.toStdString();
    return true;
}

void Tfrm_read::deviceInfoChanged() {
    if (onDeviceInfoChanged)
        onDeviceInfoChanged();
}

} // namespace zirezid
