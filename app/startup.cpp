#include "app/startup.h"

#include "app/scratch_folder.h"

#include "model/unit_config.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QCoreApplication>
#include <QTranslator>
#include <QStandardPaths>

namespace zirezid {

QString expandPercentRefs(QString text, const std::function<QString(const QString&)>& lookup) {
    for (;;) {
        const qsizetype first = text.indexOf(QLatin1Char('%'));
        if (first < 0)
            break;
        const qsizetype second = text.indexOf(QLatin1Char('%'), first + 1);
        if (second < 0)
            break;
        const QString name = text.mid(first + 1, second - first - 1);
        text.replace(QLatin1Char('%') + name + QLatin1Char('%'), lookup(name));
    }
    return text;
}

void emptyFolder(const QString& folder) { ::emptyFolder(folder.toStdString()); }

bool prepareFolder(const QString& folder) {
    QDir dir(folder);
    if (dir.exists()) {
        emptyFolder(folder);
        return true;
    }
    return QDir().mkdir(folder);
}

static QString withSlash(QString path) {
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString prepareScratchFolder(const QString& programFolder) {
    QString base = expandPercentRefs(qEnvironmentVariable("TEMP"),
                                     [](const QString& name) { return qEnvironmentVariable(name.toLocal8Bit()); });
    if (base.isEmpty())
        base = qEnvironmentVariable("TMPDIR");
    if (base.isEmpty())
        base = QStringLiteral("/tmp");
    QString folder = claimProcessFolder(withSlash(base) + QStringLiteral("vida/"));
    if (!folder.isEmpty())
        return folder;
    folder = claimProcessFolder(withSlash(programFolder) + QStringLiteral("Temp/"));
    if (!folder.isEmpty())
        return folder;
    // Nowhere of our own: the shared folder as it is, so the program still starts.
    folder = withSlash(programFolder) + QStringLiteral("Temp/");
    QDir().mkdir(folder);
    return folder;
}

QString messagesFolderFor(const QString& basePath) {
    return QString::fromStdString(::messagesFolderFor(basePath.toStdString()));
}

QString preferencesPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/NORDAL/ZIRezid.conf");
}

void Preferences::load(int& comPort, int& configId) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    bool ok = false;
    comPort = prefs.value(QStringLiteral("ComPort")).toInt(&ok);
    if (!ok || !prefs.contains(QStringLiteral("ComPort"))) {
        comPort = defaultComPort;
        prefs.setValue(QStringLiteral("ComPort"), comPort);
    } else if (comPort < 1 || comPort > 9) {
        // A hand-edited value outside COM1-COM9 would leave the port dialog without a selection.
        comPort = defaultComPort;
    }
    configId = prefs.value(QStringLiteral("ConfigID")).toInt(&ok);
    if (!ok || !prefs.contains(QStringLiteral("ConfigID"))) {
        configId = defaultConfigId;
        prefs.setValue(QStringLiteral("ConfigID"), configId);
    }
    prefs.sync();
}

void Preferences::writeComPort(int comPort) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("ComPort"), comPort);
    prefs.sync();
}

void Preferences::writeConfigId(int configId) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("ConfigID"), configId);
    prefs.sync();
}

QString Preferences::portOverride(int n) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    return prefs.value(QStringLiteral("Ports/COM%1").arg(n)).toString();
}

void Preferences::writePortOverride(int n, const QString& device) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("Ports/COM%1").arg(n), device);
    prefs.sync();
}

QStringList Preferences::recentFiles() {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    QStringList list = prefs.value(QStringLiteral("RecentFiles")).toStringList();
    list.removeAll(QString());
    return list.mid(0, recentCount);
}

void Preferences::addRecentFile(const QString& path) {
    QStringList list = recentFiles();
    list.removeAll(path);
    list.prepend(path);
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("RecentFiles"), list.mid(0, recentCount));
    prefs.sync();
}

QByteArray Preferences::windowGeometry() {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    return prefs.value(QStringLiteral("Window/Geometry")).toByteArray();
}

QByteArray Preferences::splitterState() {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    return prefs.value(QStringLiteral("Window/Splitter")).toByteArray();
}

void Preferences::writeWindowLayout(const QByteArray& geometry, const QByteArray& splitter) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("Window/Geometry"), geometry);
    prefs.setValue(QStringLiteral("Window/Splitter"), splitter);
    prefs.sync();
}

QString Preferences::lastFolder() {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    const QString folder = prefs.value(QStringLiteral("Window/LastFolder")).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void Preferences::writeLastFolder(const QString& folder) {
    QSettings prefs(preferencesPath(), QSettings::IniFormat);
    prefs.setValue(QStringLiteral("Window/LastFolder"), folder);
    prefs.sync();
}

bool installQtTranslations() {
    // Owned by the application object, so they live exactly as long as the texts they translate.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    // Month and day names in the file dialogs and calendars follow the translation.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    return true;
}

QString resolveComDevice(int n) {
    const QString env = qEnvironmentVariable(QStringLiteral("ZIREZID_COM%1").arg(n).toLatin1());
    if (!env.isEmpty())
        return env;
    const QString pref = Preferences::portOverride(n);
    if (!pref.isEmpty())
        return pref;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

} // namespace zirezid
