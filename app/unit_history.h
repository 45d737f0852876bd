// The window's side of the unit's history: every read of the read/write dialog leaves a snapshot, a write
// runs through the pre-write read and the preview dialog, and a read taken into the database is remembered as
// the database's origin (for conflicts).
#pragma once

#include <QObject>
#include <string>

class QWidget;
class SettingsDatabase;

namespace zirezid {

class Tfrm_read;

class UnitHistory : public QObject {
public:
    explicit UnitHistory(QWidget* window);
    ~UnitHistory() override;
    // Hooks the dialog's reads and writes.
    void attach(Tfrm_read& dialog);
    // The history folder the window uses.
    static std::string folder();
    // "История устройства…": the snapshots of the connected unit (or any other), compared with the open
    // database. Answers the folder of the snapshot the technician chose to open, or empty.
    std::string showHistory(const SettingsDatabase& open, bool connected);
    // "Откатить последнюю запись": the newest before-write of the connected unit goes back through the write
    // dialog, with its preview; the dialog works on the snapshot for that time.
    void rollback(Tfrm_read& dialog, SettingsDatabase& open, const QString& tempFolder, bool connected);

private:
    struct State;
    State* state_;
    QWidget* window_;
};

} // namespace zirezid
