// Tfrm_main, the main window: owns the one open settings database, shows it as a tree with the selected object's
// editor beside it, keeps the marks that choose what a device read or write covers, and enables every command
// from one state table.
#pragma once

#include "app/settings_tree.h"
#include "editors/editor_base.h"
#include "editors/editor_set.h"
#include "app/read_dialog.h"
#include "model/atomic_file.h"
#include "model/host.h"
#include "model/unit_config.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;

namespace zirezid {

class UnitHistory;

class Tfrm_msg_err_ari;
class Tfrm_msg_warn_query;
class Tfrm_msg_warn_query_all;
class Tfrm_editbox;
class Tfrm_about;
class Tfrm_clock;
class Tfrm_compare;
class Tfrm_ComPort;
class Tfrm_new;

class Tfrm_main : public QMainWindow, public host::Host, public EditorOwner {
    Q_OBJECT
public:
    // `settingsFile`: the command-line argument, or empty.
    explicit Tfrm_main(QString settingsFile = QString());
    ~Tfrm_main() override;

    using ShellState = host::ShellState;
    using enum host::ShellState;

    // host::Host
    void showMessage(const std::string& text, host::MessageIcon icon) override;
    void processEvents() override;
    void applyShellState(ShellState state) override;
    host::EditorWindow* emptyEditorFrame() override { return frames.ed_empty.get(); }
    host::EditorWindow* dialStringEditor() override { return frames.frm_spec.get(); }

    // EditorOwner
    void selectObjectNode(KT_TABLE& object) override;

    void setShellState(ShellState state, bool connected);
    void updateDeviceInfoBox();
    // The messages' total duration and size on the unit against its last reported free memory (device box),
    // and the question before a write whose messages may not fit; false when the technician declines.
    void updateMessagesSpace();
    bool confirmMessagesFit(const LinkObjectList& objects);
    // Keeps the device box's messages line current while the menu editor writes messages.
    void watchMessages();
    void rebuildTree();

    // Runs the first-show steps (also run by the first showEvent): open the command-line file or build the
    // unnamed database in the scratch folder.
    void FormShow();

    // Command handlers.
    void mn_NewClick();
    void mn_OpenClick();
    void mn_SaveClick();
    void mn_SaveAsClick();
    // Compares the open database (with what is typed in the editor) with a settings file opened read-only.
    void mn_CompareClick();
    void mn_ExitClick();
    void mn_DeviceConfigClick();
    void mnCOMClick();
    void mn_ConnectClick();
    void mn_DisconnectClick();
    void mn_ReadClick();
    void mn_WriteClick();
    void mn_DateTimeClick();
    void mnAboutClick();
    // Opens a settings file, asking about unsaved changes first (the recent-files entries).
    void openFile(const QString& path);
    // Opens a snapshot of the unit's history read-only: its copy, which a save puts under a new name.
    void openSnapshot(const std::string& snapshotFolder);

    // Which file the open and save dialogs chose; empty for cancel. Tests put their own choice here.
    enum class FileDialogKind { Open, Save };
    std::function<QString(FileDialogKind, const QString& title, const QString& fileName)> askFileName;

    // State and data.
    ShellState shellState = stNoBase;
    bool isConnected = false;
    bool isUnnamed = true;
    bool allowExpand = false;
    int comPortNumber = 1;
    QString tempFolder;
    SettingsDatabase db;
    EditorFrames frames;

    // Controls.
    QAction *bt_New, *bt_Open, *bt_Save, *bt_Connect, *bt_Read, *bt_Write, *bt_Terminal;
    QAction *mn_New, *mn_Open, *mn_Save, *mn_SaveAs, *mn_Compare, *mn_Exit;
    QAction *mn_Connect, *mn_Disconnect, *mn_Read, *mn_Write, *mn_DateTime;
    QAction *mnCOM, *mn_DeviceConfig, *mnAbout;
    QMenu* mn_Recent;
    QLabel* stStatus[3];
    QWidget* pnl_meedle;
    QWidget* pnl_tree;
    KtTreeView* kt_treeview;
    QGroupBox* GroupBox1;
    QLabel* lbl_vMessages = nullptr;
    QLabel *lbl_nType, *lbl_vType, *lbl_nSoftVer, *lbl_vSoftVer, *lbl_nFreeSpace, *lbl_vFreeSpace, *lbl_nDisc;
    QSplitter* Splitter1;
    QWidget* pnl_editor;

    // The program's other windows, created once after the main window and reused.
    Tfrm_read* frm_read = nullptr;
    UnitHistory* unitHistory = nullptr;
    Tfrm_msg_err_ari* frm_msg_err_ari;
    Tfrm_msg_warn_query* frm_msg_warn_query;
    Tfrm_msg_warn_query_all* frm_msg_warn_query_all;
    Tfrm_editbox* frm_editbox;
    Tfrm_about* frm_about;
    Tfrm_clock* frm_clock;
    Tfrm_new* frm_new;
    Tfrm_ComPort* frm_ComPort;
    Tfrm_compare* frm_compare;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void createControls();
    void createWindows();
    void clearTree();
    void expandAndSelectRoot();
    void toggleMark(TreeNodeItem* node);
    void toggleExpand(QTreeWidgetItem* item);
    void kt_treeviewChange(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    // The unsaved-changes question; false when the user cancelled.
    bool askSaveChanges();
    // Before saving over the open file: takes the file's edit lock (another program's save is waited for) and,
    // when another program changed the file since it was opened or saved here, asks whether to overwrite.
    // False (after saying why) when the save must not go ahead.
    bool mayOverwriteOnDisk(atomic_file::EditLock& lock);
    // How long a save waits for another program's edit of the same file.
    static constexpr int kEditWaitMs = 3000;
    void runDeviceJob(bool write);
    void commitEditor();
    void bt_ConnectClick();
    void bt_SaveClick();
    QString runFileDialog(FileDialogKind kind, const QString& title, const QString& fileName);
    void loadFile(const QString& path);
    // After New or Open: the database in memory is shown as the file at `path`, or, when it could not be made
    // or read, none is (no frame keeps showing what is gone).
    void showDatabaseOf(const QString& path);
    void showNoDatabase();
    void fillRecentMenu();
    void rememberFile(const QString& path);
    void updateTitle();
    static QList<int> pathOf(QTreeWidgetItem* item);
    void selectPath(const QList<int>& path);

    QFileDialog* openDialog_;
    QFileDialog* saveDialog_;
    QString settingsFile_;
    QString unnamedName_; // what the title calls a database without a file of its own
    bool shown_ = false;
    bool busyCursor_ = false;
    bool closing_ = false;
};

} // namespace zirezid
