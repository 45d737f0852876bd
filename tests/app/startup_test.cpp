#include "app/scratch_folder.h"
#include "app/startup.h"
#include "ui_helpers.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

using namespace zirezid;

TEST(StartUp, ExpandsPercentReferencesRepeatedlyAndStopsAtAnUnpairedSign) {
    const auto env = [](const QString& name) {
        if (name == QLatin1String("USERPROFILE"))
            return QStringLiteral("/home/tech");
        if (name == QLatin1String("NESTED"))
            return QStringLiteral("%USERPROFILE%/x");
        return QString();
    };
    EXPECT_EQ(expandPercentRefs(QStringLiteral("%USERPROFILE%/Local/Temp"), env),
              QStringLiteral("/home/tech/Local/Temp"));
    EXPECT_EQ(expandPercentRefs(QStringLiteral("%USERPROFILE%:%USERPROFILE%"), env),
              QStringLiteral("/home/tech:/home/tech"));
    // A value that itself holds a reference is expanded on the next round.
    EXPECT_EQ(expandPercentRefs(QStringLiteral("%NESTED%"), env), QStringLiteral("/home/tech/x"));
    EXPECT_EQ(expandPercentRefs(QStringLiteral("%UNSET%/t"), env), QStringLiteral("/t"));
    EXPECT_EQ(expandPercentRefs(QStringLiteral("/tmp/50%"), env), QStringLiteral("/tmp/50%"));
}

TEST(StartUp, ScratchFolderIsEmptiedWithoutFollowingLinks) {
    test::TestEnvironment env;
    const QString vida = env.scratch();
    // What this process number left last time, and what an ended process left in a folder of its own.
    const QString ended = env.path(QStringLiteral("tmp/vida/4000001/"));
    for (const QString& folder : {vida, ended}) {
        QDir().mkpath(folder + QStringLiteral("menu/sub"));
        QFile(folder + QStringLiteral("menu/sub/a.wav")).open(QIODevice::WriteOnly);
        QFile(folder + QStringLiteral("noname.qor")).open(QIODevice::WriteOnly);
    }
    // A link out of the scratch folder: what it points at must survive.
    QDir().mkpath(env.path(QStringLiteral("keep")));
    const QString precious = env.path(QStringLiteral("keep/precious.qor"));
    QFile(precious).open(QIODevice::WriteOnly);
    QFile::link(env.path(QStringLiteral("keep")), vida + QStringLiteral("link"));
    QFile::link(env.path(QStringLiteral("keep")), ended + QStringLiteral("link"));

    EXPECT_EQ(prepareScratchFolder(QStringLiteral("/nonexistent")), vida);
    EXPECT_TRUE(QDir(vida).exists());
    EXPECT_TRUE(QDir(vida).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    EXPECT_FALSE(QDir(ended).exists());
    EXPECT_TRUE(QFile::exists(precious));
    EXPECT_TRUE(processFolderInUse(vida));
    EXPECT_FALSE(processFolderInUse(ended));
}

TEST(StartUp, ScratchFolderFallsBackWhenTempCannotBeUsed) {
    test::TestEnvironment env;
    QFile(env.path(QStringLiteral("file"))).open(QIODevice::WriteOnly);
    qputenv("TEMP", env.path(QStringLiteral("file")).toLocal8Bit()); // a file, so vida/ cannot be made in it
    const QString program = env.path(QStringLiteral("program"));
    QDir().mkpath(program);
    const QString own = QStringLiteral("/Temp/%1/").arg(QCoreApplication::applicationPid());
    EXPECT_EQ(prepareScratchFolder(program), program + own);
    EXPECT_TRUE(QDir(program + own).exists());
    qunsetenv("TEMP");
    qputenv("TMPDIR", env.path(QStringLiteral("tmp")).toLocal8Bit());
    EXPECT_EQ(prepareScratchFolder(program), env.scratch());
    qunsetenv("TMPDIR");
}

TEST(StartUp, PreferencesAreCreatedWithDefaultsAndKeptWhenPresent) {
    test::TestEnvironment env;
    int port = 0, config = 0;
    Preferences::load(port, config);
    EXPECT_EQ(port, 1);
    EXPECT_EQ(config, 29);
    ASSERT_TRUE(QFile::exists(env.preferences()));
    {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        EXPECT_EQ(prefs.value(QStringLiteral("ComPort")).toInt(), 1);
        EXPECT_EQ(prefs.value(QStringLiteral("ConfigID")).toInt(), 29);
    }
    Preferences::writeComPort(4);
    Preferences::writeConfigId(19);
    Preferences::load(port, config);
    EXPECT_EQ(port, 4);
    EXPECT_EQ(config, 19);
}

TEST(StartUp, PortDeviceResolvesThroughEnvironmentThenPreferencesThenTtyS) {
    test::TestEnvironment env;
    EXPECT_EQ(resolveComDevice(3), QStringLiteral("/dev/ttyS2"));
    {
        QSettings prefs(env.preferences(), QSettings::IniFormat);
        prefs.setValue(QStringLiteral("Ports/COM3"), QStringLiteral("/dev/ttyUSB0"));
    }
    EXPECT_EQ(resolveComDevice(3), QStringLiteral("/dev/ttyUSB0"));
    qputenv("ZIREZID_COM3", "/dev/pts/7");
    EXPECT_EQ(resolveComDevice(3), QStringLiteral("/dev/pts/7"));
    qunsetenv("ZIREZID_COM3");
}
