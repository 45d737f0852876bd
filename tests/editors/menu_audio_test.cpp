// The unit's conversion first: its resampler has a member Qt's "emit" macro would swallow.
#include "link/sound_conversion.h"

#include "editor_fixture.h"

#include "../audio/audio_fixture.h"
#include "audio/loudness.h"
#include "editors/message_audio.h"
#include "editors/ted_menu.h"
#include "model/atomic_file.h"
#include "model/tables.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMediaPlayer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest/QTest>

#include <csignal>
#include <sys/resource.h>

using namespace zirezid;
using audio_test::shell;
using audio_test::speechLike;

namespace {

// Types the text as key presses carrying it (QTest::keyClicks takes Latin letters only).
void typeText(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

class MenuAudioTest : public test::EditorTest {
protected:
    MenuAudioTest() : ed(static_cast<Ted_menu*>(frames.ed_menu.get())), panel(ed->pnl_Audio) {
        ed->chooseMessageFile = [this](const QString&) { return chosen; };
    }
    QString menuFile(const QString& name) const {
        return QString::fromStdString(db.messagesFolder) + QStringLiteral("50301/") + name;
    }
    audio::Sound decoded(const QString& file) {
        audio::Sound s;
        EXPECT_TRUE(audio::decodeFile(file.toStdString(), s)) << file.toStdString();
        return s;
    }
    QString bytesOf(const QString& file) {
        std::string b;
        atomic_file::readAll(file.toStdString(), b);
        return QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size()));
    }
    Ted_menu* ed;
    MessageAudioPanel* panel;
    QString chosen;
};

TEST_F(MenuAudioTest, BrowseTakesAnMp3AndShowsWaveformLoudnessAndUnitSize) {
    audio::Sound studio = speechLike(44100, 2.0, 0.05);
    studio.samples.insert(studio.samples.begin(), 22050, 0.0f);
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("studio.wav")).toStdString(), studio));
    ASSERT_EQ(shell("lame --quiet " + audio_test::quoted(path(QStringLiteral("studio.wav")).toStdString()) + " " +
                    audio_test::quoted(path(QStringLiteral("Приветствие.mp3")).toStdString())),
              0);
    show(ed, object("MENU(3)"));
    EXPECT_FALSE(panel->btNormalize->isEnabled());
    EXPECT_TRUE(panel->btSpeech->isEnabled());
    chosen = path(QStringLiteral("Приветствие.mp3"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    ASSERT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
    EXPECT_EQ(field("MENU(3)", "Message"), "Приветствие.wav");
    const audio::Sound kept = decoded(menuFile(QStringLiteral("Приветствие.wav")));
    EXPECT_EQ(kept.rate, 44100);
    EXPECT_NEAR(kept.seconds(), 2.5, 0.06);
    EXPECT_TRUE(ed->mp1->isEnabled());

    EXPECT_TRUE(panel->loudness().valid);
    EXPECT_TRUE(panel->lbl_Loudness->text().contains(QStringLiteral("LUFS")))
        << panel->lbl_Loudness->text().toStdString();
    EXPECT_TRUE(panel->lbl_Loudness->text().contains(QStringLiteral("dBTP")));
    EXPECT_TRUE(panel->lbl_Info->text().contains(QStringLiteral("0:02,5"))) << panel->lbl_Info->text().toStdString();
    EXPECT_TRUE(panel->lbl_Info->text().contains(QStringLiteral("в устройстве 10000 байт")))
        << panel->lbl_Info->text().toStdString();
    EXPECT_GT(panel->caller().snrDb, 10.0);
    EXPECT_FALSE(panel->waveform->columns().empty());
    EXPECT_TRUE(panel->btNormalize->isEnabled());

    // Another menu shows nothing; back again the panel reads the message from the folder.
    show(ed, object("MENU(0)"));
    EXPECT_FALSE(panel->btCaller->isEnabled());
    show(ed, object("MENU(3)"));
    EXPECT_TRUE(panel->btCaller->isEnabled());
}

TEST_F(MenuAudioTest, EvenLoudnessAndTrimRewriteTheMessageAndMarkTheMenu) {
    audio::Sound quiet = speechLike(16000, 1.0, 0.01);
    quiet.samples.insert(quiet.samples.begin(), 16000, 0.0f);
    quiet.samples.resize(quiet.samples.size() + 16000, 0.0f);
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("quiet.wav")).toStdString(), quiet));
    show(ed, object("MENU(3)"));
    chosen = path(QStringLiteral("quiet.wav"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    ASSERT_EQ(field("MENU(3)", "Message"), "quiet.wav");
    object("MENU(3)")->markState = kMarkNone;

    QTest::mouseClick(panel->btNormalize, Qt::LeftButton);
    // Same name, new sound: the menu is written again.
    EXPECT_EQ(object("MENU(3)")->markState, kMarkChanged);
    const QString file = menuFile(QStringLiteral("quiet.wav"));
    EXPECT_NEAR(audio::measureLoudness(decoded(file)).integratedLufs, MessageAudioPanel::targetLufs(), 0.2);
    EXPECT_NEAR(panel->loudness().integratedLufs, MessageAudioPanel::targetLufs(), 0.2);
    EXPECT_TRUE(panel->lbl_Loudness->text().contains(QStringLiteral("−20,0")) ||
                panel->lbl_Loudness->text().contains(QStringLiteral("−20.0")))
        << panel->lbl_Loudness->text().toStdString();

    object("MENU(3)")->markState = kMarkNone;
    QTest::mouseClick(panel->btTrim, Qt::LeftButton);
    EXPECT_EQ(object("MENU(3)")->markState, kMarkChanged);
    EXPECT_NEAR(decoded(file).seconds(), 1.0 + 2 * audio::kTrimMarginMs / 1000.0, 0.02);
    EXPECT_TRUE(ed->mp1->isEnabled());
    EXPECT_EQ(field("MENU(3)", "Message"), "quiet.wav");
    EXPECT_EQ(QDir(QFileInfo(file).path()).entryList(QDir::Files), QStringList{QStringLiteral("quiet.wav")});
    EXPECT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
}

TEST_F(MenuAudioTest, CallersSoundIsTheUnitsConversionThereAndBack) {
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("m.wav")).toStdString(), speechLike(22050, 1.0)));
    show(ed, object("MENU(3)"));
    chosen = path(QStringLiteral("m.wav"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    QTest::mouseClick(panel->btCaller, Qt::LeftButton);
    ASSERT_FALSE(panel->callerFile().isEmpty());
    EXPECT_EQ(panel->callerPlayer->source(), QUrl::fromLocalFile(panel->callerFile()));

    const std::string ktm = path(QStringLiteral("m.ktm")).toStdString();
    const std::string back = path(QStringLiteral("back.wav")).toStdString();
    ASSERT_EQ(sound::convertSoundFile(menuFile(QStringLiteral("m.wav")).toStdString(), ktm, false, nullptr), 0);
    ASSERT_EQ(sound::convertSoundFile(ktm, back, true, nullptr), 0);
    EXPECT_EQ(bytesOf(panel->callerFile()), bytesOf(QString::fromStdString(back)));
}

TEST_F(MenuAudioTest, SpokenTextBecomesTheMessageWithItsTextBeside) {
    show(ed, object("MENU(3)"));
    QString seen;
    int runs = 0;
    panel->runSpeechDialog = [&](SpeechDialog& dialog) {
        ++runs;
        QTimer::singleShot(0, [&] {
            auto* active = qobject_cast<SpeechDialog*>(QApplication::activeModalWidget());
            if (active == nullptr) {
                dialog.reject();
                return;
            }
            seen = active->ed_Text->toPlainText();
            active->ed_Text->selectAll();
            typeText(active->ed_Text,
                     runs == 1 ? QStringLiteral("Добрый день. Нажмите один.") : QStringLiteral("Добрый вечер."));
            active->se_Rate->setValue(170);
            QTest::mouseClick(active->btListen, Qt::LeftButton);
            EXPECT_TRUE(QFileInfo(active->lastListened).isFile());
            QTest::mouseClick(active->btKeep, Qt::LeftButton);
        });
        return dialog.exec();
    };
    QTest::mouseClick(panel->btSpeech, Qt::LeftButton);
    ASSERT_TRUE(recorder.messages.isEmpty()) << recorder.messages.join('\n').toStdString();
    EXPECT_EQ(field("MENU(3)", "Message"), "speech.wav");
    EXPECT_GT(decoded(menuFile(QStringLiteral("speech.wav"))).seconds(), 1.0);
    EXPECT_EQ(bytesOf(menuFile(QStringLiteral("speech.txt"))),
              QString::fromLatin1(QStringLiteral("Добрый день. Нажмите один.").toUtf8()));
    EXPECT_TRUE(ed->mp1->isEnabled());
    EXPECT_TRUE(panel->btCaller->isEnabled());

    // Opened again, the dialog holds the text to change.
    QTest::mouseClick(panel->btSpeech, Qt::LeftButton);
    EXPECT_EQ(seen, QStringLiteral("Добрый день. Нажмите один."));
    EXPECT_EQ(bytesOf(menuFile(QStringLiteral("speech.txt"))),
              QString::fromLatin1(QStringLiteral("Добрый вечер.").toUtf8()));
}

TEST_F(MenuAudioTest, UndecodableFileSaysWhyAndKeepsTheOlderMessage) {
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("good.wav")).toStdString(), speechLike(8000, 0.5)));
    show(ed, object("MENU(3)"));
    chosen = path(QStringLiteral("good.wav"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    const QString before = bytesOf(menuFile(QStringLiteral("good.wav")));
    ASSERT_TRUE(atomic_file::writeAll(path(QStringLiteral("good.mp3")).toStdString(), std::string(4000, 'z')));
    chosen = path(QStringLiteral("good.mp3"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].contains(chosen)) << recorder.messages[0].toStdString();
    EXPECT_EQ(field("MENU(3)", "Message"), "good.wav");
    EXPECT_EQ(bytesOf(menuFile(QStringLiteral("good.wav"))), before);
    EXPECT_TRUE(ed->mp1->isEnabled());
    EXPECT_TRUE(panel->btCaller->isEnabled());
}

// A write that fails half-way (here a file-size limit, as a full disk would) must leave the older message
// whole: copying over it would have emptied it first.
TEST_F(MenuAudioTest, FailedWriteLeavesTheOlderMessageWhole) {
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("greeting.wav")).toStdString(), speechLike(8000, 1.0)));
    show(ed, object("MENU(3)"));
    chosen = path(QStringLiteral("greeting.wav"));
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    const QString file = menuFile(QStringLiteral("greeting.wav"));
    const QString before = bytesOf(file);
    ASSERT_EQ(before.size(), 16044);
    // The same name again, now a minute long: about 1 MB against a limit of 64 kB.
    ASSERT_TRUE(audio::writeWav16(path(QStringLiteral("greeting.wav")).toStdString(), speechLike(8000, 60.0)));
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QTest::mouseClick(ed->btOpen, Qt::LeftButton);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(recorder.messages.size(), 1);
    EXPECT_TRUE(recorder.messages[0].contains(QStringLiteral("greeting.wav"))) << recorder.messages[0].toStdString();
    EXPECT_EQ(bytesOf(file), before);
    EXPECT_EQ(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("greeting.wav")});
    EXPECT_EQ(field("MENU(3)", "Message"), "greeting.wav");
}

} // namespace
