// Program start-up helpers: the scratch folder, folder emptying and the preferences file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace zirezid {

// Expands %NAME% references the way the original start-up did: the first "%...%" pair names a variable, every
// occurrence of that reference is replaced by its value (empty when unset), and the loop repeats until no pair is left.
QString expandPercentRefs(QString text, const std::function<QString(const QString&)>& lookup);

// Removes everything inside `folder`, keeping the folder (the model's emptying: links inside are removed, never
// followed, so a link out of the scratch folder cannot delete someone else's files). Single failures are ignored.
void emptyFolder(const QString& folder);

// Empties `folder` when it exists, else creates it (one level). Answers whether the folder is there afterwards.
bool prepareFolder(const QString& folder);

// The scratch folder: TEMP (expanded), else TMPDIR, else /tmp, followed by "vida/"; when that cannot be made, the
// program's folder followed by "Temp/". Inside it this process works in "<pid>/" of its own (see
// claimProcessFolder), so a second window never empties the first one's. Always ends in "/".
QString prepareScratchFolder(const QString& programFolder);

// A settings file's messages folder: the path with its extension replaced by ".messages/".
QString messagesFolderFor(const QString& basePath);

// The preferences file: $XDG_CONFIG_HOME/NORDAL/ZIRezid.conf (default ~/.config/...).
QString preferencesPath();

// The two persisted preferences, read once at start and written where the commands say.
class Preferences {
public:
    static constexpr int defaultComPort = 1;
    static constexpr int defaultConfigId = 29;

    // Reads both values, writing the defaults for those that are missing.
    static void load(int& comPort, int& configId);
    static void writeComPort(int comPort);
    static void writeConfigId(int configId);
    // The device path that Ports/COMn names, or empty.
    static QString portOverride(int n);
    static void writePortOverride(int n, const QString& device);

    // The files opened or saved last, newest first, at most recentCount.
    static constexpr int recentCount = 8;
    static QStringList recentFiles();
    // Puts `path` first in the recent files, dropping its older entry and the ones beyond recentCount.
    static void addRecentFile(const QString& path);
    // The main window's size and splitter as last left; empty when never stored.
    static QByteArray windowGeometry();
    static QByteArray splitterState();
    static void writeWindowLayout(const QByteArray& geometry, const QByteArray& splitter);
    // The folder the file dialogs showed when last confirmed; the home folder when never stored or gone.
    static QString lastFolder();
    static void writeLastFolder(const QString& folder);
};

// Loads Qt's own Russian texts (file dialogs, standard buttons, edit menus) when the system has them; false
// when they are not installed.
bool installQtTranslations();

// The device a port number resolves to when the serial layer opens it: env ZIREZID_COMn, the preference
// Ports/COMn, then /dev/ttyS{n-1}.
QString resolveComDevice(int n);

} // namespace zirezid
