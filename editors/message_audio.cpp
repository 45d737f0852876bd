#include "editors/message_audio.h"

#include "audio/decode.h"
#include "audio/loudness.h"
#include "model/host.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cmath>

namespace zirezid {

namespace {
const QString kNormalize = QStringLiteral("Выровнять громкость");
const QString kTrim = QStringLiteral("Обрезать тишину");
const QString kCaller = QStringLiteral("Как услышит абонент");
const QString kSpeech = QStringLiteral("Озвучить текст…");
const QString kSpeechTitle = QStringLiteral("Озвучить текст");
const QString kSpeechPrompt = QStringLiteral("Текст сообщения:");
const QString kRate = QStringLiteral("Темп, слов в минуту:");
const QString kPitch = QStringLiteral("Высота голоса:");
const QString kListen = QStringLiteral("Прослушать");
const QString kKeep = QStringLiteral("Сохранить как сообщение");
const QString kCancel = QStringLiteral("Отмена");
const QString kNoMessage = QStringLiteral("Нет сообщения");
const QString kSilence = QStringLiteral("Громкость: тишина");
const QString kNoFolder = QStringLiteral("Нет папки сообщений: сначала сохраните базу");
// The name a spoken message gets in the menu's folder, its text beside it.
const QString kSpeechFile = QStringLiteral("speech.wav");

QString number(double v, int decimals = 1) {
    // A real minus sign reads better than a hyphen beside the units.
    return QString::number(v, 'f', decimals).replace(QLatin1Char('-'), QChar(0x2212));
}

QString durationText(double seconds) {
    const int whole = static_cast<int>(seconds);
    return QStringLiteral("%1:%2,%3")
        .arg(whole / 60)
        .arg(whole % 60, 2, 10, QLatin1Char('0'))
        .arg(static_cast<int>((seconds - whole) * 10), 1);
}

// The hourglass over the whole program while a message is decoded, coded for the unit and back and measured
// on this thread: a long message takes seconds, and the window must not look hung meanwhile.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

QString sizeText(std::uint64_t bytes) {
    return bytes >= 10 * 1024 ? QString::number((bytes + 1023) / 1024) + QStringLiteral(" КБ")
                              : QString::number(bytes) + QStringLiteral(" байт");
}
} // namespace

// ---- WaveformView ----

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("waveform"));
    setMinimumHeight(48);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WaveformView::setSound(const audio::Sound& sound) {
    sound_ = sound;
    rebuild();
    update();
}

void WaveformView::resizeEvent(QResizeEvent*) { rebuild(); }

void WaveformView::rebuild() {
    columns_.clear();
    const int w = std::max(1, width() - 2);
    const std::size_t n = sound_.samples.size();
    if (n == 0)
        return;
    columns_.reserve(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) {
        const std::size_t from = n * static_cast<std::size_t>(x) / static_cast<std::size_t>(w);
        const std::size_t to = std::max(from + 1, n * static_cast<std::size_t>(x + 1) / static_cast<std::size_t>(w));
        float lo = 0;
        float hi = 0;
        for (std::size_t i = from; i < to && i < n; ++i) {
            lo = std::min(lo, sound_.samples[i]);
            hi = std::max(hi, sound_.samples[i]);
        }
        columns_.emplace_back(lo, hi);
    }
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const int mid = height() / 2;
    const double half = (height() - 4) / 2.0;
    p.drawLine(1, mid, width() - 2, mid);
    p.setPen(QColor(0x1f, 0x5f, 0xa8));
    for (std::size_t x = 0; x < columns_.size(); ++x) {
        const auto [lo, hi] = columns_[x];
        const int top = mid - static_cast<int>(std::lround(std::min(1.0f, hi) * half));
        const int bottom = mid - static_cast<int>(std::lround(std::max(-1.0f, lo) * half));
        p.drawLine(static_cast<int>(x) + 1, top, static_cast<int>(x) + 1, bottom);
    }
    // Full scale marked in red: a waveform touching it clips.
    p.setPen(QColor(0xc0, 0x30, 0x30));
    for (const auto& [lo, hi] : columns_)
        if (hi >= 0.999f || lo <= -0.999f) {
            p.drawLine(1, 1, width() - 2, 1);
            p.drawLine(1, height() - 2, width() - 2, height() - 2);
            break;
        }
}

// ---- SpeechDialog ----

SpeechDialog::SpeechDialog(QWidget* parent, const QString& text) : QDialog(parent) {
    setObjectName(QStringLiteral("dlg_Speech"));
    setWindowTitle(kSpeechTitle);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kSpeechPrompt, this));
    ed_Text = new QPlainTextEdit(text, this);
    ed_Text->setObjectName(QStringLiteral("ed_Text"));
    layout->addWidget(ed_Text, 1);
    auto* form = new QFormLayout;
    se_Rate = new QSpinBox(this);
    se_Rate->setObjectName(QStringLiteral("se_Rate"));
    se_Rate->setRange(audio::kMinSpeechRate, audio::kMaxSpeechRate);
    se_Rate->setValue(audio::SpeechOptions{}.rate);
    se_Pitch = new QSpinBox(this);
    se_Pitch->setObjectName(QStringLiteral("se_Pitch"));
    se_Pitch->setRange(0, 100);
    se_Pitch->setValue(audio::SpeechOptions{}.pitch);
    form->addRow(kRate, se_Rate);
    form->addRow(kPitch, se_Pitch);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    btListen = new QPushButton(kListen, this);
    btListen->setObjectName(QStringLiteral("btListen"));
    btKeep = new QPushButton(kKeep, this);
    btKeep->setObjectName(QStringLiteral("btKeep"));
    btCancel = new QPushButton(kCancel, this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    buttons->addWidget(btListen);
    buttons->addStretch();
    buttons->addWidget(btKeep);
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);
    output_ = new QAudioOutput(this);
    player_ = new QMediaPlayer(this);
    player_->setAudioOutput(output_);
    connect(btListen, &QPushButton::clicked, this, [this] { listen(); });
    connect(btKeep, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(460, 300);
}

SpeechDialog::~SpeechDialog() {
    player_->stop();
    player_->setSource(QUrl());
}

QString SpeechDialog::text() const { return ed_Text->toPlainText(); }

audio::SpeechOptions SpeechDialog::options() const {
    audio::SpeechOptions o;
    o.rate = se_Rate->value();
    o.pitch = se_Pitch->value();
    return o;
}

bool SpeechDialog::synthesize(audio::Sound& out) {
    std::string error;
    if (!audio::speak(text().toStdString(), options(), out, &error)) {
        host::current().showMessage(error, host::MessageIcon::Error);
        return false;
    }
    return true;
}

void SpeechDialog::listen() {
    audio::Sound sound;
    if (!synthesize(sound))
        return;
    if (!scratch_)
        scratch_ = std::make_unique<QTemporaryDir>();
    const QString file = scratch_->filePath(QStringLiteral("listen.wav"));
    std::string error;
    player_->stop();
    player_->setSource(QUrl());
    if (!audio::writeWav16(file.toStdString(), sound, &error)) {
        host::current().showMessage(error, host::MessageIcon::Error);
        return;
    }
    lastListened = file;
    player_->setSource(QUrl::fromLocalFile(file));
    player_->play();
}

// ---- MessageAudioPanel ----

MessageAudioPanel::MessageAudioPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnl_Audio"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    waveform = new WaveformView(this);
    grid->addWidget(waveform, 0, 0, 1, 4);
    lbl_Info = new QLabel(kNoMessage, this);
    lbl_Info->setObjectName(QStringLiteral("lbl_Info"));
    lbl_Loudness = new QLabel(this);
    lbl_Loudness->setObjectName(QStringLiteral("lbl_Loudness"));
    lbl_Info->setWordWrap(true);
    lbl_Loudness->setWordWrap(true);
    grid->addWidget(lbl_Info, 1, 0, 1, 4);
    grid->addWidget(lbl_Loudness, 2, 0, 1, 4);
    btNormalize = new QPushButton(kNormalize, this);
    btNormalize->setObjectName(QStringLiteral("btNormalize"));
    btTrim = new QPushButton(kTrim, this);
    btTrim->setObjectName(QStringLiteral("btTrim"));
    btCaller = new QPushButton(kCaller, this);
    btCaller->setObjectName(QStringLiteral("btCaller"));
    btSpeech = new QPushButton(kSpeech, this);
    btSpeech->setObjectName(QStringLiteral("btSpeech"));
    // Two buttons a row: four in one would widen the editor beyond its opening size.
    grid->addWidget(btNormalize, 3, 0, 1, 2);
    grid->addWidget(btTrim, 3, 2, 1, 2);
    grid->addWidget(btCaller, 4, 0, 1, 2);
    grid->addWidget(btSpeech, 4, 2, 1, 2);
    callerOutput_ = new QAudioOutput(this);
    callerPlayer = new QMediaPlayer(this);
    callerPlayer->setAudioOutput(callerOutput_);
    connect(btNormalize, &QPushButton::clicked, this, [this] { normalizeClick(); });
    connect(btTrim, &QPushButton::clicked, this, [this] { trimClick(); });
    connect(btCaller, &QPushButton::clicked, this, [this] { callerClick(); });
    connect(btSpeech, &QPushButton::clicked, this, [this] { speechClick(); });
    runSpeechDialog = [](SpeechDialog& dialog) { return dialog.exec(); };
    setMessage(QString());
}

MessageAudioPanel::~MessageAudioPanel() {
    // Let go of the file before the player goes: a pipeline torn down while it still holds a playing source
    // is the one path of Qt's GStreamer back end that was seen to hang.
    callerPlayer->stop();
    callerPlayer->setSource(QUrl());
}

double MessageAudioPanel::targetLufs() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    QSettings prefs(config + QStringLiteral("/NORDAL/ZIRezid.conf"), QSettings::IniFormat);
    bool ok = false;
    const double v = prefs.value(QStringLiteral("Audio/TargetLufs")).toDouble(&ok);
    // A hand-edited value outside what makes sense for a prompt falls back to the default.
    return ok && v >= -40 && v <= -6 ? v : audio::kDefaultTargetLufs;
}

void MessageAudioPanel::showError(const std::string& text) {
    host::current().showMessage(text, host::MessageIcon::Error);
}

void MessageAudioPanel::setMessage(const QString& path) {
    callerPlayer->stop();
    callerPlayer->setSource(QUrl());
    path_ = path;
    sound_ = audio::Sound{};
    loudness_ = audio::Loudness{};
    caller_ = audio::CallerSound{};
    bool loaded = false;
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        const BusyCursor busy;
        std::string error;
        loaded = audio::decodeFile(path.toStdString(), sound_, &error) && audio::makeCallerSound(sound_, caller_);
    }
    if (!loaded) {
        sound_ = audio::Sound{};
        waveform->setSound(sound_);
        lbl_Info->setText(kNoMessage);
        lbl_Loudness->clear();
    } else {
        loudness_ = audio::measureLoudness(sound_);
        waveform->setSound(sound_);
        lbl_Info->setText(QStringLiteral("Длительность %1 · в устройстве %2 · сигнал/шум кодирования %3 дБ")
                              .arg(durationText(sound_.seconds()), sizeText(caller_.unitBytes), number(caller_.snrDb)));
        if (!loudness_.valid) {
            lbl_Loudness->setText(kSilence);
        } else {
            QString text =
                QStringLiteral("Громкость %1 LUFS (цель %2) · пик %3 dBTP")
                    .arg(number(loudness_.integratedLufs), number(targetLufs()), number(loudness_.truePeakDbtp));
            if (loudness_.clips())
                text += QStringLiteral(" · перегрузка!");
            lbl_Loudness->setText(text);
        }
    }
    btNormalize->setEnabled(loaded && loudness_.valid);
    btTrim->setEnabled(loaded);
    btCaller->setEnabled(loaded);
}

bool MessageAudioPanel::rewrite(const std::function<bool(audio::Sound&)>& change) {
    if (path_.isEmpty() || sound_.samples.empty())
        return false;
    audio::Sound changed = sound_;
    {
        const BusyCursor busy;
        if (!change(changed))
            return false;
    }
    if (beforeRewrite)
        beforeRewrite();
    std::string error;
    const bool written = audio::writeWav16(path_.toStdString(), changed, &error);
    if (!written)
        showError(error);
    const QString path = path_;
    setMessage(path);
    if (messageWritten)
        messageWritten(QFileInfo(path).fileName());
    return written;
}

void MessageAudioPanel::normalizeClick() {
    const double target = targetLufs();
    rewrite([target](audio::Sound& s) { return audio::normalizeLoudness(s, target); });
}

void MessageAudioPanel::trimClick() {
    rewrite([](audio::Sound& s) { return audio::trimSilence(s); });
}

void MessageAudioPanel::callerClick() {
    if (caller_.sound.samples.empty())
        return;
    if (!scratch_)
        scratch_ = std::make_unique<QTemporaryDir>();
    callerPlayer->stop();
    callerPlayer->setSource(QUrl());
    const QString file = scratch_->filePath(QStringLiteral("caller.wav"));
    std::string error;
    if (!audio::writeWav16(file.toStdString(), caller_.sound, &error)) {
        showError(error);
        return;
    }
    callerFile_ = file;
    callerPlayer->setSource(QUrl::fromLocalFile(file));
    callerPlayer->play();
}

void MessageAudioPanel::speechClick() {
    const QString target = folder ? folder() : QString();
    if (target.isEmpty()) {
        showError(kNoFolder.toStdString());
        return;
    }
    // A message made from text before is opened with its text, to be changed; a recording starts empty.
    std::string previous;
    if (!path_.isEmpty())
        audio::loadSpeechText(path_.toStdString(), previous);
    SpeechDialog dialog(this, QString::fromStdString(previous));
    if (runSpeechDialog(dialog) != QDialog::Accepted)
        return;
    audio::Sound sound;
    if (!dialog.synthesize(sound))
        return;
    const QString name = !previous.empty() ? QFileInfo(path_).fileName() : kSpeechFile;
    QDir().mkpath(target);
    const QString file = QDir(target).filePath(name);
    if (beforeRewrite)
        beforeRewrite();
    std::string error;
    if (!audio::writeWav16(file.toStdString(), sound, &error) ||
        !audio::saveSpeechText(file.toStdString(), dialog.text().toStdString(), &error)) {
        showError(error);
        return;
    }
    setMessage(file);
    if (messageWritten)
        messageWritten(name);
}

} // namespace zirezid
