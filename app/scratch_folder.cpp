#include "app/scratch_folder.h"

#include "app/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zirezid {

namespace {

// Lock files stay open for the life of the process: closing one would let another process count the folder as
// abandoned and empty it under our feet. One descriptor per lock file, because a second open of the same file
// in this process would be refused by its own first lock.
std::map<QString, int>& heldLocks() {
    static std::map<QString, int> locks;
    return locks;
}

QString lockPathFor(const QString& folder) {
    QString path = folder;
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + QStringLiteral(".lock");
}

// Takes the lock file at `path`, making it when missing. A remover may unlink the file between our open and
// our lock; a lock on an unlinked file guards nothing, so that case starts over.
int takeLock(const QString& path, bool wait) {
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        if (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
    return -1;
}

bool isProcessFolderName(const QString& name) {
    bool ok = false;
    return !name.isEmpty() && name.toLongLong(&ok) > 0 && ok;
}

// Removes the folders of ended processes. A lock that cannot be taken at once belongs to a live process.
void removeAbandoned(const QString& base, const QString& own) {
    const QStringList names = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : names) {
        if (!isProcessFolderName(name) || name == own)
            continue;
        const QString folder = base + name;
        const QString lock = lockPathFor(folder);
        const int fd = takeLock(lock, false);
        if (fd < 0)
            continue;
        emptyFolder(folder);
        QDir().rmdir(folder);
        // Unlinked while still held, so a starter racing us sees a changed file and starts over.
        QFile::remove(lock);
        ::close(fd);
    }
}

} // namespace

QString claimProcessFolder(const QString& base) {
    QString root = base;
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    if (!QDir(root).exists() && !QDir().mkdir(root))
        return {};
    const QString own = QString::number(QCoreApplication::applicationPid());
    const QString folder = root + own + QLatin1Char('/');
    const QString lock = lockPathFor(folder);
    auto& locks = heldLocks();
    if (locks.find(lock) == locks.end()) {
        // Our process number may be a reused one: whatever an ended process left under it is ours to clear.
        const int fd = takeLock(lock, true);
        if (fd < 0)
            return {};
        locks.emplace(lock, fd);
    }
    removeAbandoned(root, own);
    if (!prepareFolder(folder))
        return {};
    return folder;
}

bool processFolderInUse(const QString& folder) {
    const QString lock = lockPathFor(folder);
    if (heldLocks().count(lock) != 0)
        return true;
    if (!QFile::exists(lock))
        return false;
    const int fd = takeLock(lock, false);
    if (fd < 0)
        return true;
    ::close(fd);
    return false;
}

} // namespace zirezid
