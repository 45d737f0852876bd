// Tfrm_read, the read/write dialog: the visible face of the device link and the owner of the one link object.
#pragma once

#include "app/clock_dialog.h"
#include "link/link_ui.h"

#include <QDialog>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class KT_TABLE;
class SettingsDatabase;
namespace devlink {
class DeviceLink;
}
class QCheckBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QTimer;

namespace zirezid {

class Tfrm_msg_err_ari;
class Tfrm_msg_warn_query_all;
class Tfrm_editbox;

// The objects of one job: the name the main window lists and the object.
using LinkObjectList = std::vector<std::pair<std::string, KT_TABLE*>>;

class Tfrm_read : public QDialog, public DeviceClock, public devlink::LinkUi {
    Q_OBJECT
public:
    Tfrm_read(QWidget* parent, Tfrm_msg_err_ari* errorBox, Tfrm_msg_warn_query_all* queryAllBox, Tfrm_editbox* editBox);
    ~Tfrm_read() override;

    // Filled by the main window before each job.
    bool writeMode = false;
    LinkObjectList linkObjects;
    int comPortNumber = 1;

    devlink::DialogState dialogState = devlink::dsNotConnected;
    void setDialogState(devlink::DialogState state) override;

    // The session commands of the main window; they run without showing the dialog.
    bool openSession();
    void closeSession();

    // DeviceClock: the clock dialog reads and sets the unit's clock through the link.
    bool getDeviceClock(QDateTime& clock) override;
    void setDeviceClock(const QDateTime& clock) override;

    // Run by a finished dialog so the main window shows its selected node's editor again.
    std::function<void()> onClosed;
    // Run when the link has read new device information.
    std::function<void()> onDeviceInfoChanged;
    // Run once when the line to the unit is found dead: the session is over, the window is no longer
    // connected.
    std::function<void()> onLineLost;
    bool lineIsLost() const { return lineLost_; }

    // The unit's history: a write runs through writeJob when set (the pre-write read, the preview, the write);
    // onRead is told of every read, onApplied when a read has been taken into the database.
    std::function<int(devlink::DeviceLink&)> writeJob;
    std::function<void(devlink::DeviceLink&)> onRead;
    std::function<void()> onApplied;

    // What the link works on; set by the main window.
    void setDatabase(SettingsDatabase* database, const QString& tempFolder);
    devlink::DeviceLink* link() const { return link_.get(); }

    // devlink::LinkUi
    void processEvents(int maxWaitMs) override;
    void selectRow(int row) override;
    void setRowStatus(int row, const std::string& status) override;
    void setStatusPanel(int panel, const std::string& text) override;
    void showMessage(const std::string& text, const std::string& caption) override;
    int askAbortRetryIgnore(const std::string& text, bool allowSkip) override;
    int askYesNoAll(const std::string& text) override;
    bool editText(const std::string& caption, const std::string& label, std::string& text) override;
    void deviceInfoChanged() override;
    void lineLost() override;

    QTableWidget* grd;
    QPushButton* bt_Read;
    QPushButton* bt_Write;
    QPushButton* bt_Stop;
    QCheckBox* cb_isLoadMsg;
    QPushButton* bt_Save;
    QPushButton* bt_Close;
    QStatusBar* sb1;
    QLabel* sb1Panels[3];
    // The whole summary of a write when the status panel is too narrow for it (the menus it names).
    QLabel* lbl_Summary;

    // The jobs: how many objects were read or written.
    int readAll();
    int writeAll();

public slots:
    void bt_ReadClick();
    void bt_WriteClick();
    void bt_StopClick();
    void bt_SaveClick();
    void bt_CloseClick();

protected:
    void discardDownloads();
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void done(int result) override;

private:
    void clearStatusColumn();
    // Widens the status column (narrowing the object column) so that Status can be read whole.
    void fitStatusColumn(const QString& status);
    Tfrm_msg_err_ari* errorBox_;
    Tfrm_msg_warn_query_all* queryAllBox_;
    Tfrm_editbox* editBox_;
    // Runs a job or session command of the link: a port failure it raises is a lost line, any other failure
    // is shown as it is. A line lost while it ran is dealt with once it has ended.
    template <class Job> int guarded(Job job);
    // Ends the session on a dead line: the port closed without a word to the unit, the message said once
    // (Detail: the port's own text, as a detail line), the dialog able only to close, the window told.
    void endLostSession(const QString& detail = QString());
    bool busyCursor_ = false;
    int running_ = 0;               // link calls under way
    bool lineLost_ = false;         // this session's line is dead; cleared by the next connect
    bool lostSessionEnded_ = false; // endLostSession has run for it
    bool lineLossSaid_ = false;     // the message has been shown, by the link or by us
    std::unique_ptr<devlink::DeviceLink> link_;
    QTimer* wake_;
};

} // namespace zirezid
