#include "history/guarded_write.h"

#include "link/device_link.h"
#include "link/link_ui.h"
#include "link/result_codes.h"
#include "model/atomic_file.h"
#include "model/host.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>

namespace history {

namespace fs = std::filesystem;
using namespace devlink;

namespace {

// Messages of the model while a snapshot is filled in or loaded for comparison: the technician has seen them
// once already (the read applied) or they are about a file of the history, not about the work at hand.
class QuietHost : public host::Host {
public:
    void showMessage(const std::string&, host::MessageIcon) override { ++count; }
    void processEvents() override {}
    void applyShellState(host::ShellState) override {}
    int count = 0;
};

bool namesFile(const std::string& name) { return !name.empty() && name != "-"; }

std::string messageNameOf(KT_TABLE& menu) {
    KT_RECORD* field = menu.findChild("Message");
    return field && !field->table() ? field->getText() : std::string();
}

bool isMenu(KT_TABLE& t) { return kt_cast<KT_TABLE_MENU>(&t) != nullptr; }

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The configuration of the unit the device information describes, or the database's.
int unitConfigId(const SettingsDatabase& db) {
    if (db.deviceInfo)
        if (KT_RECORD* id = db.deviceInfo->findChild("ConfigID"))
            for (const auto& row : unitConfigTable)
                if (std::to_string(row.id) == id->getText())
                    return row.id;
    return db.currentConfig.id;
}

void copyFields(KT_TABLE& from, KT_TABLE& to) {
    for (auto& [key, record] : from.children) {
        if (record->table())
            continue;
        if (KT_RECORD* mine = to.findChild(key); mine && !mine->table())
            mine->value->setText(record->getText());
    }
}

// A fresh database for what the unit holds, with the unit's device information.
void startUnitDatabase(SettingsDatabase& unitDb, const SettingsDatabase& from, const std::string& path) {
    unitDb.selectUnitConfig(unitConfigId(from));
    unitDb.buildNewBase(path);
    if (from.deviceInfo && unitDb.deviceInfo)
        copyFields(*from.deviceInfo, *unitDb.deviceInfo);
}

std::string absolute(const std::string& path) {
    if (path.empty())
        return path;
    std::error_code ec;
    const auto p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out;
}

// The unit's recording exactly as it came, beside its WAV: the unit's sound format does not survive a round
// trip through WAV byte for byte, and what a restore puts back must be what the unit had.
std::string keptRecordingOf(const std::string& wav) { return fs::path(wav).replace_extension(".ktm").string(); }

bool copyFile(const std::string& from, const std::string& to) {
    std::string bytes;
    return atomic_file::readAll(from, bytes, nullptr, std::size_t{1} << 31) && atomic_file::writeAll(to, bytes);
}

bool isWithin(const std::string& path, const std::string& folder) {
    const std::string p = absolute(path), f = absolute(folder);
    return !f.empty() && p.size() > f.size() && p.compare(0, f.size(), f) == 0;
}

// The bytes the unit holds after an upload of the WAV: a recording from the history goes back as the unit had
// it, any other through the converter. False when they cannot be made.
bool unitBytesOf(const std::string& wav, const std::string& historyRoot, const devlink::SoundConverter& convert,
                 const std::string& scratchFolder, std::string& bytes) {
    if (isWithin(wav, historyRoot) && isFile(keptRecordingOf(wav)))
        return atomic_file::readAll(keptRecordingOf(wav), bytes, nullptr, std::size_t{1} << 31);
    if (!convert)
        return false;
    static int counter = 0;
    std::error_code ec;
    const std::string folder = scratchFolder.empty() ? fs::temp_directory_path(ec).string() : scratchFolder;
    const std::string staged =
        (fs::path(folder) / ("compare-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".ktm"))
            .string();
    const bool made =
        convert(wav, staged, false) == 0 && atomic_file::readAll(staged, bytes, nullptr, std::size_t{1} << 31);
    fs::remove(staged, ec);
    return made;
}

// Whether the unit's recording, downloaded beside its WAV, is what an upload of the database's WAV would put
// there. A WAV converted back from the unit's format is not the technician's WAV byte for byte, so the WAVs
// themselves say nothing.
bool sameOnUnit(const std::string& unitWav, const std::string& databaseWav, const std::string& historyRoot,
                const devlink::SoundConverter& convert, const std::string& scratchFolder) {
    std::string unitBytes, sent;
    if (!isFile(keptRecordingOf(unitWav)) ||
        !atomic_file::readAll(keptRecordingOf(unitWav), unitBytes, nullptr, std::size_t{1} << 31) ||
        !unitBytesOf(databaseWav, historyRoot, convert, scratchFolder, sent))
        return false;
    // A download keeps whole 16-bit words: an odd last byte of the unit's file never comes down the line, so
    // the recording the unit got from an odd-sized conversion is compared without it.
    if (sent.size() % 2 != 0 && unitBytes.size() == sent.size() - 1)
        sent.pop_back();
    return sent == unitBytes;
}

// Swaps the link's sound converter for the time of a scope.
class ConverterSwap {
public:
    ConverterSwap(DeviceLink& link, devlink::SoundConverter replacement) : link_(link), saved_(link.soundConverter) {
        link_.soundConverter = std::move(replacement);
    }
    ~ConverterSwap() { link_.soundConverter = saved_; }
    ConverterSwap(const ConverterSwap&) = delete;
    ConverterSwap& operator=(const ConverterSwap&) = delete;
    const devlink::SoundConverter& saved() const { return saved_; }

private:
    DeviceLink& link_;
    devlink::SoundConverter saved_;
};

} // namespace

GuardedWrite::GuardedWrite(DeviceLink& link, LinkUi& ui, SnapshotStore& store, Preferences preferences)
    : link_(link), ui_(ui), store_(store), preferences_(preferences) {}

WriteOutcome GuardedWrite::run() {
    WriteOutcome out;
    SettingsDatabase& db = *link_.database;
    unit_ = identify(db);
    out.preview.unit = unit_;
    const auto refuse = [&](const std::string& why) {
        out.status = WriteOutcome::Status::Refused;
        out.message = why + "\n" + text::nothingSent;
        ui_.setStatusPanel(1, text::nothingSent);
        ui_.showMessage(out.message, "");
        return out;
    };

    std::string error;
    bool withHistory = store_.ready(error);
    if (!withHistory && !(preferences_.allowWithoutHistory && askWithoutHistory &&
                          askWithoutHistory(error + "\nЗаписать без сохранения того, что заменится на устройстве?")))
        return refuse(error);
    PendingSnapshot pending;
    if (withHistory) {
        pending = store_.begin(unit_, dryRun ? kKindRead : kKindBeforeWrite, error);
        if (!pending.valid())
            return refuse(error);
    }

    SettingsDatabase unitNow;
    startUnitDatabase(unitNow, db, (withHistory ? pending.dir() : link_.tempFolder) + kDatabaseFile);
    unitNow.messagesFolder = withHistory ? pending.messagesFolder() : link_.tempFolder + "unit-now.messages/";
    if (!preRead(unitNow, pending, out.preview, out))
        return out;
    findConflicts(unitNow, out.preview);
    buildChanges(unitNow, out.preview);

    if (withHistory) {
        SnapshotIndex index;
        index.unit = unit_.folderName();
        index.softVersion = unit_.softVersion;
        for (const auto& [caption, object] : objects)
            if (std::find(out.preview.notRead.begin(), out.preview.notRead.end(), object->name) ==
                out.preview.notRead.end())
                index.objects.push_back(object->name);
        for (const auto& name : index.objects)
            if (KT_TABLE* t = unitNow.findObject(name);
                t && isMenu(*t) && namesFile(messageNameOf(*t)) &&
                isFile(menuMessageFolder(unitNow.messagesFolder, *t) + messageNameOf(*t)))
                index.messages.push_back(name + ":" + messageNameOf(*t));
        index.summary = (dryRun              ? "проверка перед записью: "
                         : restoring.empty() ? "перед записью: "
                                             : "перед восстановлением: ") +
                        previewSummary(out.preview);
        if (!dryRun)
            index.restores = restoring;
        // A dry run changes neither the unit nor the file: naming the file would make this read the file's
        // starting point, and a change made on the unit meanwhile would then pass for one the file wants undone.
        if (!dryRun)
            index.database = absolute(db.basePath);
        if (!pending.writeDatabase(unitNow, error))
            return refuse(error);
        out.before = pending.commit(index, error);
        if (!out.before)
            return refuse(error);
        unitNow.messagesFolder = out.before->messagesFolder();
        out.preview.beforeSnapshot = out.before->path;
        store_.prune(preferences_.sizeLimit, out.before->path);
    }

    if (dryRun) {
        out.status = out.preview.unchanged() ? WriteOutcome::Status::Unchanged : WriteOutcome::Status::WouldChange;
        return out;
    }
    // A write that does not happen leaves no before-write: the newest one must be what the last write
    // replaced.
    const auto dropBefore = [&] {
        if (out.before) {
            std::error_code ec;
            fs::remove_all(out.before->path, ec);
            out.before.reset();
        }
    };
    if (approve) {
        if (!approve(out.preview)) {
            dropBefore();
            out.status = WriteOutcome::Status::Cancelled;
            ui_.setStatusPanel(1, text::cancelled);
            return out;
        }
    } else if (!out.preview.conflicts.empty()) {
        dropBefore();
        out.status = WriteOutcome::Status::Refused;
        out.message =
            "Поля изменены и на устройстве, и в базе: выберите, что оставить.\n" + std::string(text::nothingSent);
        ui_.setStatusPanel(1, text::nothingSent);
        return out;
    }

    // The technician's choices go into the database, so that what is written is what was chosen and the
    // database says afterwards what the unit holds.
    const auto keepUnitValue = [&](const std::string& objectName, const std::string& key, const std::string& v) {
        if (KT_TABLE* t = db.findObject(objectName))
            if (KT_RECORD* r = t->findChild(key); r && !r->table())
                r->setText(v);
    };
    for (const auto& c : out.preview.conflicts)
        if (c.keepUnit)
            keepUnitValue(c.objectName, c.key, c.unitStored);
    for (const auto& u : out.preview.unitChanges)
        if (!u.overwrite)
            keepUnitValue(u.objectName, u.key, u.unitStored);

    ObjectList toWrite;
    for (const auto& entry : objects)
        if (std::find(out.preview.notRead.begin(), out.preview.notRead.end(), entry.second->name) ==
            out.preview.notRead.end())
            toWrite.push_back(entry);
    link_.linkObjects = toWrite;
    link_.writeMode = true;
    link_.messageChangesApproved = out.preview.shown;
    {
        // A recording from the history goes back as the unit had it, not converted once more.
        ConverterSwap swap(link_, nullptr);
        const devlink::SoundConverter convert = swap.saved();
        const std::string root = store_.root();
        link_.soundConverter = [convert, root](const std::string& in, const std::string& outFile, bool toWav) {
            if (!toWav && isWithin(in, root) && isFile(keptRecordingOf(in)))
                return copyFile(keptRecordingOf(in), outFile) ? 0 : -1;
            return convert ? convert(in, outFile, toWav) : -1;
        };
        out.written = link_.writeAll();
    }
    out.status = WriteOutcome::Status::Written;
    if (withHistory) {
        std::vector<std::string> names;
        for (const auto& entry : toWrite)
            names.push_back(entry.second->name);
        out.after = afterWrite(unitNow, out.before, names);
        const bool whole = out.preview.notRead.empty() && out.written == static_cast<int>(toWrite.size()) &&
                           link_.objectsWritten.size() == toWrite.size();
        // Not noted (a full disk, a crash) reads as not complete: the next undo then puts the same snapshot back
        // once more, which is harmless, rather than undoing a restore.
        if (out.before && !restoring.empty() && whole && store_.noteComplete(*out.before, error))
            out.before->index.complete = true;
        store_.prune(preferences_.sizeLimit, out.after ? out.after->path : std::string());
    }
    return out;
}

bool GuardedWrite::preRead(SettingsDatabase& unitNow, PendingSnapshot& pending, Preview& preview,
                           WriteOutcome& outcome) {
    const int total = static_cast<int>(objects.size());
    const auto stopped = [&](int row) {
        ui_.setRowStatus(row, link_.lineLost() ? devlink::text::statusLineLost : devlink::text::statusStopped);
        ui_.setStatusPanel(1, text::nothingSent);
        outcome.status = WriteOutcome::Status::Stopped;
        outcome.message = text::nothingSent;
        return false;
    };
    std::vector<int> menusWithMessage;
    for (int k = 0; k < total; ++k) {
        KT_TABLE& object = *objects[static_cast<std::size_t>(k)].second;
        ui_.selectRow(k + 1);
        ui_.setStatusPanel(1, text::preRead + object.getDescription());
        ui_.setStatusPanel(2, std::to_string(k + 1) + "/" + std::to_string(total));
        std::string payload;
        int d = untilDecided([&] { return link_.readObject(object, payload); });
        if (d == dcStopped || d == dcStop)
            return stopped(k + 1);
        if (d == dcSkip) {
            preview.notRead.push_back(object.name);
            ui_.setRowStatus(k + 1, text::statusNotRead);
            continue;
        }
        KT_TABLE* mine = unitNow.findObject(object.name);
        if (mine == nullptr) {
            preview.notRead.push_back(object.name);
            ui_.setRowStatus(k + 1, text::statusNotRead);
            continue;
        }
        mine->parseDeviceText(payload);
        ui_.setRowStatus(k + 1, text::statusRead);
        if (isMenu(*mine) && namesFile(messageNameOf(*mine)))
            menusWithMessage.push_back(k);
    }
    if (!preferences_.downloadMessages || !pending.valid()) {
        preview.messagesDownloaded = menusWithMessage.empty();
        return true;
    }
    ConverterSwap swap(link_, nullptr);
    const devlink::SoundConverter convert = swap.saved();
    link_.soundConverter = [convert](const std::string& in, const std::string& outFile, bool toWav) {
        const int r = convert ? convert(in, outFile, toWav) : -1;
        if (r == 0 && toWav && !copyFile(in, keptRecordingOf(outFile)))
            return -1;
        return r;
    };
    for (int k : menusWithMessage) {
        KT_TABLE& object = *objects[static_cast<std::size_t>(k)].second;
        KT_TABLE& mine = *unitNow.findObject(object.name);
        ui_.selectRow(k + 1);
        ui_.setStatusPanel(1, text::preReadMessage + object.getDescription());
        const std::string folder = menuMessageFolder(unitNow.messagesFolder, mine);
        std::error_code ec;
        fs::create_directories(folder, ec);
        int d = untilDecided([&] { return link_.downloadObjectFile(object, folder); });
        if (d == dcStopped || d == dcStop)
            return stopped(k + 1);
        if (d == dcSkip)
            preview.messagesDownloaded = false;
    }
    return true;
}

void GuardedWrite::findConflicts(SettingsDatabase& unitNow, Preview& preview) {
    SettingsDatabase& db = *link_.database;
    const std::string dbPath = absolute(db.basePath);
    // A database never saved (noname.qor) cannot have come from a read the history recorded.
    if (dbPath.empty() || !fs::path(db.basePath).is_absolute())
        return;
    const auto snapshots = store_.list(unit_.folderName());
    QuietHost quiet;
    host::ScopedHost scoped(quiet);
    std::map<std::string, std::unique_ptr<SettingsDatabase>> loaded;
    for (const auto& [caption, object] : objects) {
        const std::string& name = object->name;
        if (std::find(preview.notRead.begin(), preview.notRead.end(), name) != preview.notRead.end())
            continue;
        const Snapshot* base = nullptr;
        for (const auto& s : snapshots)
            if ((s.index.kind == kKindRead || s.index.kind == kKindAfterWrite) && s.index.database == dbPath &&
                s.holds(name)) {
                base = &s;
                break;
            }
        if (!base)
            continue;
        auto& baseDb = loaded[base->path];
        if (!baseDb) {
            baseDb = std::make_unique<SettingsDatabase>();
            if (!loadSnapshot(*base, *baseDb))
                baseDb->root.reset();
        }
        if (!baseDb->root)
            continue;
        KT_TABLE* b = baseDb->findObject(name);
        KT_TABLE* u = unitNow.findObject(name);
        if (!b || !u)
            continue;
        if (preview.baseSnapshot.empty())
            preview.baseSnapshot = base->path;
        for (auto& [key, field] : object->children) {
            if (field->table() || key == "Message")
                continue;
            KT_RECORD* bf = b->findChild(key);
            KT_RECORD* uf = u->findChild(key);
            if (!bf || !uf || bf->table() || uf->table())
                continue;
            const std::string bv = bf->getText(), uv = uf->getText(), dv = field->getText();
            if (uv == bv || dv == uv)
                continue;
            if (dv == bv)
                preview.unitChanges.push_back({name, object->getDescription(), key, field->description,
                                               uf->getEditText(), field->getEditText(), uv, false});
            else
                preview.conflicts.push_back({name, object->getDescription(), key, field->description, bf->getEditText(),
                                             uf->getEditText(), field->getEditText(), uv, false});
        }
    }
}

void GuardedWrite::buildChanges(SettingsDatabase& unitNow, Preview& preview) {
    SettingsDatabase& db = *link_.database;
    std::set<std::string> written;
    for (const auto& [caption, object] : objects)
        written.insert(object->name);
    for (const auto& name : preview.notRead)
        written.erase(name);
    std::set<std::pair<std::string, std::string>> decided;
    for (const auto& c : preview.conflicts)
        decided.insert({c.objectName, c.key});
    for (const auto& u : preview.unitChanges)
        decided.insert({u.objectName, u.key});

    compare::Comparison all = compare::compareDatabases(unitNow, db);
    preview.changes.unitTypeA = all.unitTypeA;
    preview.changes.unitTypeB = all.unitTypeB;
    for (auto& d : all.objects) {
        if (!written.count(d.objectName) || d.presence == compare::Presence::OnlyA)
            continue;
        // Only what a write sends: whether an object shows in the tree is the file's business, and the
        // recording is judged by its bytes below.
        std::erase_if(d.fields, [&](const compare::FieldDifference& f) {
            return f.key == "isVisible" || f.key == "Message" || decided.count({d.objectName, f.key});
        });
        if (d.hasMessageDifference) {
            const compare::MessageDifference& m = d.message;
            const bool unitHas = namesFile(m.a.name);
            const bool dbHas = m.b.present;
            MessageChange change;
            change.objectName = d.objectName;
            change.caption = d.captionB;
            change.unitMessage = unitHas ? compare::describeMessage(m.a) : "-";
            change.databaseMessage = compare::describeMessage(m.b);
            change.kept = m.a.present;
            bool changes = true;
            if (unitHas && dbHas && m.sameName && m.a.present &&
                sameOnUnit(m.a.path, m.b.path, store_.root(), link_.soundConverter, link_.tempFolder))
                changes = false; // the unit already holds what the write would send
            else if (unitHas && dbHas) {
                change.fate = MessageFate::Replaced;
                change.compared = !m.sameName || m.a.present;
            } else if (unitHas)
                change.fate = MessageFate::Deleted;
            else if (dbHas)
                change.fate = MessageFate::Added;
            else
                changes = false; // neither side has a recording to send or lose
            if (changes)
                preview.messages.push_back(change);
            d.hasMessageDifference = false;
        }
        if (!d.fields.empty())
            preview.changes.objects.push_back(std::move(d));
    }
}

std::optional<Snapshot> GuardedWrite::afterWrite(SettingsDatabase& unitNow, const std::optional<Snapshot>& before,
                                                 const std::vector<std::string>& names) {
    SettingsDatabase& db = *link_.database;
    std::string error;
    PendingSnapshot pending = store_.begin(unit_, kKindAfterWrite, error);
    if (!pending.valid())
        return std::nullopt;
    const std::vector<std::string> reached = link_.objectsWritten;
    std::vector<std::string> unknown; // menus whose recording on the unit is not known after a lost line
    for (const auto& name : reached) {
        KT_TABLE* sent = db.findObject(name);
        KT_TABLE* mine = unitNow.findObject(name);
        if (!sent || !mine)
            continue;
        std::string payload;
        // What the unit holds now, recording included; a dead line leaves what was sent.
        if (!link_.lineLost() && link_.readObject(*sent, payload) == dcDone) {
            mine->parseDeviceText(payload);
        } else {
            const std::string message = isMenu(*mine) ? messageNameOf(*mine) : std::string();
            copyFields(*sent, *mine);
            if (isMenu(*mine)) {
                if (KT_RECORD* field = mine->findChild("Message"))
                    field->value->setText(message);
                unknown.push_back(name);
            }
        }
    }
    SnapshotIndex index;
    index.unit = unit_.folderName();
    index.softVersion = unit_.softVersion;
    index.objects = before ? before->index.objects : names;
    for (const auto& name : index.objects) {
        KT_TABLE* t = unitNow.findObject(name);
        if (!t || !isMenu(*t) || !namesFile(messageNameOf(*t)))
            continue;
        const std::string n = messageNameOf(*t);
        std::string source;
        KT_TABLE* sent = db.findObject(name);
        const bool wasWritten = std::find(reached.begin(), reached.end(), name) != reached.end();
        if (wasWritten && sent && messageNameOf(*sent) == n && isFile(menuMessageFolder(db.messagesFolder, *sent) + n))
            source = menuMessageFolder(db.messagesFolder, *sent) + n;
        else if (isFile(menuMessageFolder(unitNow.messagesFolder, *t) + n))
            source = menuMessageFolder(unitNow.messagesFolder, *t) + n;
        if (source.empty() || !pending.addMessage(source, menuMessageFolderName(*t), n, error))
            continue;
        if (isFile(keptRecordingOf(source)) && isWithin(source, store_.root()))
            pending.addMessage(keptRecordingOf(source), menuMessageFolderName(*t),
                               fs::path(keptRecordingOf(n)).filename().string(), error);
        index.messages.push_back(name + ":" + n);
    }
    std::vector<std::string> missed;
    for (const auto& name : names)
        if (std::find(reached.begin(), reached.end(), name) == reached.end())
            missed.push_back(name);
    index.summary = "записано объектов: " + std::to_string(reached.size()) + " из " + std::to_string(names.size());
    if (!missed.empty())
        index.summary += "; не дошли до устройства: " + joinNames(missed);
    if (!unknown.empty())
        index.summary += "; связь потеряна, сообщения не проверены: " + joinNames(unknown);
    index.database = absolute(db.basePath);
    unitNow.basePath = pending.dir() + kDatabaseFile;
    if (!pending.writeDatabase(unitNow, error))
        return std::nullopt;
    return pending.commit(index, error);
}

std::optional<Snapshot> recordRead(SnapshotStore& store, const Preferences& preferences, const DeviceLink& link,
                                   std::string& error) {
    if (!link.database)
        return std::nullopt;
    const SettingsDatabase& db = *link.database;
    std::vector<std::size_t> held;
    for (std::size_t k = 0; k < link.linkObjects.size() && k < link.pendingAnswers.size(); ++k)
        if (!link.pendingAnswers[k].empty())
            held.push_back(k);
    if (held.empty())
        return std::nullopt;
    if (!store.ready(error))
        return std::nullopt;
    const UnitIdentity unit = identify(db);
    PendingSnapshot pending = store.begin(unit, kKindRead, error);
    if (!pending.valid())
        return std::nullopt;
    QuietHost quiet;
    host::ScopedHost scoped(quiet);
    SettingsDatabase snap;
    startUnitDatabase(snap, db, pending.dir() + kDatabaseFile);
    SnapshotIndex index;
    index.unit = unit.folderName();
    index.softVersion = unit.softVersion;
    for (std::size_t k : held) {
        KT_TABLE& object = *link.linkObjects[k].second;
        KT_TABLE* mine = snap.findObject(object.name);
        if (!mine)
            continue;
        mine->parseDeviceText(link.pendingAnswers[k]);
        index.objects.push_back(object.name);
        if (!link.isLoadMsg || !isMenu(*mine) || !namesFile(messageNameOf(*mine)))
            continue;
        const std::string n = messageNameOf(*mine);
        const std::string source =
            (link.downloadFolder.empty() ? menuMessageFolder(db.messagesFolder, *mine)
                                         : link.downloadFolder + menuMessageFolderName(*mine) + "/") +
            n;
        if (isFile(source) && pending.addMessage(source, menuMessageFolderName(*mine), n, error))
            index.messages.push_back(object.name + ":" + n);
    }
    index.summary = "прочитано объектов: " + std::to_string(index.objects.size()) +
                    ", сообщений: " + std::to_string(index.messages.size());
    // What changed on the unit since the last snapshot that held these objects.
    if (auto previous = store.list(unit.folderName()); !previous.empty()) {
        SettingsDatabase last;
        if (loadSnapshot(previous.front(), last)) {
            int changed = 0;
            const compare::Comparison c = compare::compareDatabases(last, snap);
            for (const auto& d : c.objects)
                if (previous.front().holds(d.objectName) &&
                    std::find(index.objects.begin(), index.objects.end(), d.objectName) != index.objects.end())
                    ++changed;
            index.summary += ", изменилось с прошлого снимка объектов: " + std::to_string(changed);
        }
    }
    if (!pending.writeDatabase(snap, error))
        return std::nullopt;
    auto snapshot = pending.commit(index, error);
    if (snapshot)
        store.prune(preferences.sizeLimit, snapshot->path);
    return snapshot;
}

bool prepareRestore(const Snapshot& snapshot, SettingsDatabase& db, ObjectList& objects, std::string& error) {
    objects.clear();
    if (!loadSnapshot(snapshot, db)) {
        error = "Снимок " + snapshot.path + " не загружен: восстановление не выполняется.";
        return false;
    }
    for (const auto& name : snapshot.index.objects) {
        KT_TABLE* t = db.findObject(name);
        if (!t || !isTreeTable(*t) || t == db.deviceInfo.get() || t == db.clock.get()) {
            error = "В снимке " + snapshot.path + " нет объекта " + name + ": восстановление не выполняется.";
            return false;
        }
        if (isMenu(*t) && namesFile(messageNameOf(*t)) &&
            !isFile(menuMessageFolder(db.messagesFolder, *t) + messageNameOf(*t))) {
            error = "В снимке " + snapshot.path + " нет сообщения " + messageNameOf(*t) + " (" + t->getDescription() +
                    "): восстановление не выполняется.";
            return false;
        }
        objects.emplace_back(t->getDescription(), t);
    }
    if (objects.empty()) {
        error = "Снимок " + snapshot.path + " не содержит объектов: восстанавливать нечего.";
        return false;
    }
    return true;
}

} // namespace history
