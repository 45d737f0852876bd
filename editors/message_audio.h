// The menu editor's audio controls: the message's waveform with its duration, size on the unit and the
// coding's signal-to-noise ratio, its loudness and true peak, evening the loudness, trimming the silence,
// hearing it as the caller will, and a message spoken from text.
#pragma once

#include "audio/caller_sound.h"
#include "audio/loudness.h"
#include "audio/speech.h"

#include <QDialog>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace zirezid {

// The waveform: the smallest and largest sample of each column, drawn around the middle line.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    explicit WaveformView(QWidget* parent);
    void setSound(const audio::Sound& sound);
    QSize sizeHint() const override { return {300, 64}; }
    const std::vector<std::pair<float, float>>& columns() const { return columns_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void rebuild();
    audio::Sound sound_;
    std::vector<std::pair<float, float>> columns_;
};

// "Озвучить текст…": the technician types the prompt, hears it and keeps it.
class SpeechDialog : public QDialog {
    Q_OBJECT
public:
    explicit SpeechDialog(QWidget* parent, const QString& text);
    ~SpeechDialog() override;
    QPlainTextEdit* ed_Text;
    QSpinBox* se_Rate;
    QSpinBox* se_Pitch;
    QPushButton* btListen;
    QPushButton* btKeep;
    QPushButton* btCancel;
    // The speech of the text as it stands; false after showing why.
    bool synthesize(audio::Sound& out);
    audio::SpeechOptions options() const;
    QString text() const;
    // Where "Прослушать" put its sound (for the tests).
    QString lastListened;

private:
    void listen();
    QMediaPlayer* player_;
    QAudioOutput* output_;
    std::unique_ptr<QTemporaryDir> scratch_;
};

class MessageAudioPanel : public QWidget {
    Q_OBJECT
public:
    explicit MessageAudioPanel(QWidget* parent);
    ~MessageAudioPanel() override;

    // Shows the message file (empty or missing: nothing to show, the buttons but speech disabled).
    void setMessage(const QString& path);
    QString messagePath() const { return path_; }

    // The loudness prompts are evened to: the preference "Audio/TargetLufs" of the program's preferences
    // file.
    static double targetLufs();

    WaveformView* waveform;
    QLabel* lbl_Info;     // duration, size on the unit, coding SNR
    QLabel* lbl_Loudness; // integrated loudness and true peak
    QPushButton* btNormalize;
    QPushButton* btTrim;
    QPushButton* btCaller;
    QPushButton* btSpeech;
    QMediaPlayer* callerPlayer;

    // The menu editor closes its player before a file is rewritten, and takes the new message's name after.
    std::function<void()> beforeRewrite;
    std::function<void(const QString& fileName)> messageWritten;
    // The folder a spoken message goes to (the menu's own); empty when there is no database to keep it in.
    std::function<QString()> folder;
    // Opens the speech dialog; tests drive the real dialog through it.
    std::function<int(SpeechDialog&)> runSpeechDialog;

    const audio::Loudness& loudness() const { return loudness_; }
    const audio::CallerSound& caller() const { return caller_; }
    QString callerFile() const { return callerFile_; }

private:
    void normalizeClick();
    void trimClick();
    void callerClick();
    void speechClick();
    bool rewrite(const std::function<bool(audio::Sound&)>& change);
    void showError(const std::string& text);
    QString path_;
    audio::Sound sound_;
    audio::Loudness loudness_;
    audio::CallerSound caller_;
    QString callerFile_;
    QAudioOutput* callerOutput_;
    std::unique_ptr<QTemporaryDir> scratch_;
};

} // namespace zirezid
