// Ted_menu, the editor of one voice menu: its description, its recorded message (copied into the menu's own
// folder, with a small player), the operator call while the message plays, the eleven actions on time-out and
// on the digits, and copying every field of another menu into this one.
#pragma once

#include "editors/editor_base.h"

#include <QFrame>
#include <functional>

class KT_ACTION;
namespace zirezid {
class MessageAudioPanel;
}
class QAudioOutput;
class QCheckBox;
class QComboBox;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QTabWidget;
class QToolButton;
class SettingsDatabase;

namespace zirezid {

// The message player: play, pause and stop of one WAV file. It is usable only after a file opened.
class KtWavePlayer : public QFrame {
    Q_OBJECT
public:
    explicit KtWavePlayer(QWidget* parent);
    ~KtWavePlayer() override;
    // Opens the file and waits until the player knows whether it can play it. On failure the player's error
    // number and text are handed back.
    bool open(const QString& path, int& errorNumber, QString& errorText);
    // Stops and lets go of the file.
    void close();
    QString fileName() const { return fileName_; }

    QToolButton* bt_Play;
    QToolButton* bt_Pause;
    QToolButton* bt_Stop;
    QMediaPlayer* player = nullptr;

private:
    void renewPlayer();
    QAudioOutput* output_ = nullptr;
    QString fileName_;
};

class Ted_menu : public TKT_EDITOR {
    Q_OBJECT
public:
    explicit Ted_menu(QWidget* parent = nullptr);
    ~Ted_menu() override;

    void bindObject(KT_TABLE* object) override;
    void controlExit(QWidget* control) override;
    void controlClick(QWidget* control) override;
    bool controlKeyPress(QWidget* control, char32_t key) override;

    void btOpenClick();
    void btRemoveClick();
    void cb_CopyChange(int index);

    // The database whose messages folder holds the menus' files; set by the window that owns the frames.
    SettingsDatabase* database = nullptr;
    // The open dialog: the audio file chosen starting in `folder`, or empty for cancel. Tests replace it.
    std::function<QString(const QString& folder)> chooseMessageFile;
    // Told after a message file of the bound menu was written (imported, evened, trimmed, spoken).
    std::function<void()> messageChanged;
    // The warning query about copying another menu; true only for "Да".
    std::function<bool(const QString& question)> askCopy;

    // One action row: kind, first parameter, wait in seconds, next menu.
    struct ActionRow {
        const char* key;
        QLabel* label;
        QComboBox* cb_1;
        QComboBox* cb_2;
        QLabel* st_2;
        QLineEdit* ed_2;
        QLabel* st_3;
        QComboBox* cb_3;
    };
    // In the order shown: "Таймаут", "ввод 1" … "ввод 9", "ввод 0".
    std::vector<ActionRow> rows;
    ActionRow* rowOf(const QWidget* control);

    QTabWidget* pages;
    QComboBox* cb_Copy;
    KtMaskEdit* me_Desc;
    KtMaskEdit* me_Message;
    QPushButton* btOpen;
    QPushButton* btRemove;
    KtWavePlayer* mp1;
    MessageAudioPanel* pnl_Audio;
    QCheckBox* ch_CallSlpOnStart;
    QComboBox* cb_SlpIndex;

    // The message file of the bound menu: messages folder + menu code + "01/" + name.
    QString messageFolder() const;

private:
    void showRow(ActionRow& row);
    void rowChanged(ActionRow& row);
    bool loadPlayer(const QString& path);
    void messageFileChanged();
    void enableSlpIndex();
    QStringList menuList() const;
    QStringList mailboxList() const;
    QStringList operatorList() const;
    KT_TABLE* rootTable() const;
    bool showingRow_ = false;
};

} // namespace zirezid
