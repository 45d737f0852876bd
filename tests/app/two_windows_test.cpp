// Two programs at once: each keeps its own scratch folder, so the second start leaves the first one's unnamed
// database and read staging alone, and a start clears only what ended programs left.
#include "ui_helpers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace zirezid;

namespace {

bool waitFor(const std::function<bool()>& ready, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (ready())
            return true;
        QThread::msleep(20);
    }
    return ready();
}

struct Program {
    QProcess process;
    QString folder;
};

// Starts the real window program and waits until its scratch folder holds the unnamed database's messages
// folder.
void start(Program& p, const test::TestEnvironment& env) {
    QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
    vars.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.process.setProcessEnvironment(vars);
    p.process.setProcessChannelMode(QProcess::ForwardedChannels);
    p.process.start(QStringLiteral(ZIREZID_BINARY), {});
    ASSERT_TRUE(p.process.waitForStarted(10000));
    p.folder = env.path(QStringLiteral("tmp/vida/%1/").arg(p.process.processId()));
    ASSERT_TRUE(waitFor([&] { return QDir(p.folder + QStringLiteral("noname.messages")).exists(); }))
        << p.folder.toStdString();
}

void stop(Program& p) {
    p.process.kill();
    p.process.waitForFinished(10000);
}

} // namespace

TEST(TwoWindows, SecondStartLeavesTheFirstOnesScratchFolderAlone) {
    test::TestEnvironment env; // TEMP and XDG_CONFIG_HOME of the children too
    Program first;
    start(first, env);
    // The first program's work in progress: a recording of the unnamed database and a read being staged.
    const QString recording = first.folder + QStringLiteral("noname.messages/menu0/1.wav");
    QDir().mkpath(first.folder + QStringLiteral("noname.messages/menu0"));
    QFile(recording).open(QIODevice::WriteOnly);
    const QString staged = first.folder + QStringLiteral("read-messages/50001/1.wav");
    QDir().mkpath(first.folder + QStringLiteral("read-messages/50001"));
    QFile(staged).open(QIODevice::WriteOnly);

    Program second;
    start(second, env);
    EXPECT_NE(first.folder, second.folder);
    EXPECT_TRUE(QFile::exists(recording));
    EXPECT_TRUE(QFile::exists(staged));

    // Once the first program has ended (killed, so it cleaned nothing itself), the next start clears its
    // folder and still leaves the running second one alone.
    stop(first);
    const QString secondsWork = second.folder + QStringLiteral("noname.messages/keep.wav");
    QFile(secondsWork).open(QIODevice::WriteOnly);
    Program third;
    start(third, env);
    EXPECT_FALSE(QDir(first.folder).exists());
    EXPECT_TRUE(QFile::exists(secondsWork));
    stop(second);
    stop(third);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
    QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
    vars.remove(QStringLiteral("DISPLAY"));
    vars.remove(QStringLiteral("WAYLAND_DISPLAY"));
    vars.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const auto run = [&](const QStringList& args, int& code) {
        QProcess p;
        p.setProcessEnvironment(vars);
        p.start(QStringLiteral(ZIREZID_BINARY), args);
        EXPECT_TRUE(p.waitForFinished(20000));
        code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    };
    int code = -1;
    EXPECT_TRUE(run({QStringLiteral("--version")}, code).startsWith(QStringLiteral("zirezid ")));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(run({QStringLiteral("--help")}, code).contains(QStringLiteral("zirezid [ФАЙЛ.qor]")));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(run({QStringLiteral("--frobnicate")}, code).contains(QStringLiteral("неизвестный ключ")));
    EXPECT_EQ(code, 2);
}
