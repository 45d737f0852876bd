// Pictures of the menu editor's audio controls in the main window: the waveform with loudness after evening
// it, and the speech dialog. Run by hand under Xvfb with a window manager:
// build/tests/editors/audio_screenshots docs
#include "app/main_window.h"
#include "audio/decode.h"
#include "audio/speech.h"
#include "editors/message_audio.h"
#include "editors/ted_menu.h"
#include "model/tables.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace zirezid;

namespace {
void settle() {
    for (int i = 0; i < 30; ++i)
        QApplication::processEvents();
}

void shoot(QWidget* widget, const QString& file) {
    settle();
    if (!widget->grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    QTemporaryDir scratch;
    qputenv("TEMP", scratch.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toLocal8Bit());

    Tfrm_main window;
    window.resize(1180, 760);
    window.show();
    settle();
    SettingsDatabase& db = window.db;

    // A studio-like take: speech from text with a second of silence before it, quiet, as recordings come.
    KT_TABLE* menu = db.findObject("MENU(1)");
    menu->findChild("Desc")->setText("Главное");
    const QString folder = QString::fromStdString(db.messagesFolder) + QStringLiteral("50101/");
    QDir().mkpath(folder);
    audio::Sound take;
    audio::speak("Здравствуйте! Вы позвонили в сервисный центр. Для связи с инженером нажмите один.", {}, take);
    take.samples.insert(take.samples.begin(), static_cast<std::size_t>(take.rate), 0.0f);
    for (float& v : take.samples)
        v *= 0.25f;
    const QString raw = scratch.filePath(QStringLiteral("Приветствие.wav"));
    audio::writeWav16(raw.toStdString(), take);

    auto* ed = static_cast<Ted_menu*>(window.frames.ed_menu.get());
    window.selectObjectNode(*menu);
    ed->pages->setCurrentIndex(0);
    ed->chooseMessageFile = [&](const QString&) { return raw; };
    ed->btOpen->click();
    shoot(&window, out + QStringLiteral("/editor-menu-audio.png"));
    ed->pnl_Audio->btTrim->click();
    ed->pnl_Audio->btNormalize->click();
    shoot(&window, out + QStringLiteral("/editor-menu-audio-evened.png"));

    ed->pnl_Audio->runSpeechDialog = [&](SpeechDialog& dialog) {
        QTimer::singleShot(300, &dialog, [&] {
            dialog.ed_Text->setPlainText(QStringLiteral("Добрый день! Для связи с оператором нажмите ноль."));
            shoot(&dialog, out + QStringLiteral("/speech-dialog.png"));
            dialog.reject();
        });
        return dialog.exec();
    };
    ed->pnl_Audio->btSpeech->click();
    settle();
    return 0;
}
