#include "app/unit_history.h"

#include "app/startup.h"
#include "app/unit_history_dialog.h"
#include "app/write_preview_dialog.h"
#include "app/read_dialog.h"

#include "history/guarded_write.h"
#include "link/device_link.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <QMessageBox>
#include <QWidget>
#include <optional>

namespace zirezid {

struct UnitHistory::State {
    std::optional<history::Snapshot> lastRead;
    devlink::DeviceLink* lastReadLink = nullptr;
    std::string restoring; // the snapshot a rollback is putting back, while its write dialog is open
};

UnitHistory::UnitHistory(QWidget* window) : QObject(window), state_(new State), window_(window) {}

UnitHistory::~UnitHistory() { delete state_; }

std::string UnitHistory::folder() { return history::SnapshotStore::defaultRoot(); }

void UnitHistory::attach(Tfrm_read& dialog) {
    Tfrm_read* d = &dialog;
    dialog.onRead = [this](devlink::DeviceLink& link) {
        history::SnapshotStore store(folder());
        std::string error;
        state_->lastRead =
            history::recordRead(store, history::readPreferences(preferencesPath().toStdString()), link, error);
        state_->lastReadLink = &link;
        // The read itself stands; a history that cannot take it is said, not hidden.
        if (!state_->lastRead && !error.empty())
            QMessageBox::warning(window_, QStringLiteral("История устройства"), QString::fromStdString(error));
    };
    dialog.onApplied = [this, d] {
        if (!state_->lastRead || !d->link() || !d->link()->database)
            return;
        history::SnapshotStore store(folder());
        std::string error;
        store.noteDatabase(*state_->lastRead, d->link()->database->basePath, error);
        state_->lastRead.reset();
    };
    dialog.writeJob = [this, d](devlink::DeviceLink& link) {
        const history::Preferences preferences = history::readPreferences(preferencesPath().toStdString());
        history::SnapshotStore store(folder());
        history::GuardedWrite write(link, *d, store, preferences);
        write.objects = link.linkObjects;
        write.restoring = state_->restoring;
        write.askWithoutHistory = [d](const std::string& question) {
            return QMessageBox::question(d, QStringLiteral("История устройства"), QString::fromStdString(question),
                                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
        };
        write.approve = [d, preferences](history::Preview& preview) {
            // Conflicts are never decided silently: the preview comes whatever the preference says.
            if (!preferences.preview && preview.conflicts.empty())
                return true;
            WritePreviewDialog dialogBox(d, preview);
            preview.shown = true;
            return dialogBox.exec() == QDialog::Accepted;
        };
        const history::WriteOutcome out = write.run();
        return out.status == history::WriteOutcome::Status::Written ? out.written : 0;
    };
}

std::string UnitHistory::showHistory(const SettingsDatabase& open, bool connected) {
    UnitHistoryDialog dialog(window_, folder(), open, connected ? history::identify(open).folderName() : std::string());
    dialog.exec();
    return dialog.snapshotToOpen();
}

void UnitHistory::rollback(Tfrm_read& dialog, SettingsDatabase& open, const QString& tempFolder, bool connected) {
    const QString caption = QStringLiteral("Откат последней записи");
    if (!connected) {
        QMessageBox::information(window_, caption, QStringLiteral("Сначала подключитесь к устройству."));
        return;
    }
    const history::UnitIdentity unit = history::identify(open);
    const history::SnapshotStore store(folder());
    std::string error;
    const auto snapshot = store.undoTarget(unit.folderName(), error);
    if (!snapshot) {
        QMessageBox::information(window_, caption,
                                 !error.empty() ? QString::fromStdString(error)
                                                : QStringLiteral("В истории нет записи на устройство %1.")
                                                      .arg(QString::fromStdString(unit.folderName())));
        return;
    }
    SettingsDatabase restored;
    history::ObjectList objects;
    if (!history::prepareRestore(*snapshot, restored, objects, error)) {
        QMessageBox::warning(window_, caption, QString::fromStdString(error));
        return;
    }
    for (auto& [key, record] : open.deviceInfo->children)
        if (KT_RECORD* mine = restored.deviceInfo->findChild(key); mine && !record->table())
            mine->value->setText(record->getText());
    dialog.setDatabase(&restored, tempFolder);
    dialog.writeMode = true;
    dialog.linkObjects = objects;
    dialog.setWindowTitle(caption + QStringLiteral(": ") + QString::fromStdString(snapshot->index.time));
    state_->restoring = snapshot->path;
    dialog.exec();
    state_->restoring.clear();
    dialog.setDatabase(&open, tempFolder);
    dialog.linkObjects.clear();
}

} // namespace zirezid
