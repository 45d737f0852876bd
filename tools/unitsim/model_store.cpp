// The unit's objects built with the settings model's own builders for the configured unit type, so the unit
// and the configurator share one schema: field order, kinds, limits and defaults.
#include <map>

#include "model/host.h"
#include "model/unit_config.h"
#include "tools/unitsim/device_text.h"
#include "tools/unitsim/object_store.h"

namespace unitsim {

UnitCounts countsOf(UnitType type) {
    const UnitConfig& c = unitConfigTable[type == UnitType::QOR11 ? 0 : 1];
    return UnitCounts{c.id, c.lines, c.menus, c.mailboxes};
}

namespace {

// The model reports a refused field by a message box; the unit has no screen and only counts them.
class CountingHost final : public host::Host {
public:
    void showMessage(const std::string&, host::MessageIcon) override { ++messages; }
    void processEvents() override {}
    void applyShellState(host::ShellState) override {}
    long messages = 0;
};

bool isFile(const KT_RECORD& r) { return kt_cast<KT_FILE>(r.value.get()) != nullptr; }
bool isText(const KT_RECORD& r) { return kt_cast<KT_STR>(r.value.get()) != nullptr; }

class ModelStore final : public ObjectStore {
public:
    ModelStore(UnitType type, FileField fileField) : fileField_(std::move(fileField)), scope_(host_) {
        int id = countsOf(type).configId;
        for (auto* db : {&live_, &scratch_}) {
            db->selectUnitConfig(id);
            db->buildNewBase("unit.qor");
        }
        index(live_, liveIndex_, order_);
        std::vector<std::string> ignored;
        index(scratch_, scratchIndex_, ignored);
    }

    std::vector<std::string> codes() const override { return order_; }
    bool knows(const std::string& code) const override { return liveIndex_.count(code) != 0; }
    bool isMenu(const std::string& code) const override {
        KT_TABLE* t = find(liveIndex_, code);
        return t && kt_cast<KT_TABLE_MENU>(t) != nullptr;
    }
    std::string objectName(const std::string& code) const override {
        KT_TABLE* t = find(liveIndex_, code);
        return t ? t->getName() : std::string();
    }
    std::optional<std::size_t> valueCount(const std::string& code) const override {
        KT_TABLE* t = find(liveIndex_, code);
        if (!t)
            return std::nullopt;
        std::size_t n = 0;
        for (const auto& [name, record] : t->children)
            n += isFile(*record) ? 0 : 1;
        return n;
    }
    std::string deviceText(const std::string& code) const override {
        KT_TABLE* t = find(liveIndex_, code);
        if (!t)
            return {};
        // The model leaves file fields out of the text the configurator sends; the unit's text carries them.
        std::string out;
        for (const auto& [name, record] : t->children)
            out += (isFile(*record) ? fileField_(code) : record->getText()) + " ";
        return out;
    }
    int setFromDeviceText(const std::string& code, const std::string& text) override {
        KT_TABLE* live = find(liveIndex_, code);
        KT_TABLE* scratch = find(scratchIndex_, code);
        if (!live || !scratch)
            return 2;
        auto tokens = splitDeviceText(text, *valueCount(code));
        if (tokens.values.size() != *valueCount(code))
            return 3;
        // The scratch copy takes the live values, then the new text; only a text it takes whole reaches the
        // unit.
        std::string parseText;
        std::vector<std::string> sent;
        std::size_t t = 0;
        for (std::size_t i = 0; i < live->children.size(); ++i) {
            KT_RECORD& record = *live->children[i].second;
            scratch->children[i].second->value->setText(record.value->getText());
            if (isFile(record)) {
                parseText += "{} ";
                sent.emplace_back();
                continue;
            }
            const DeviceToken& tok = tokens.values[t++];
            if (isText(record) != tok.quoted)
                return 3;
            // "#" is the unit's prompt: a text holding one could never be read back.
            if (tok.quoted && tok.text.find('#') != std::string::npos)
                return 3;
            std::string stored = tok.quoted ? "'" + tok.text + "'" : tok.text;
            parseText += stored + " ";
            sent.push_back(stored);
        }
        long before = host_.messages;
        scratch->parseDeviceText(parseText);
        if (host_.messages != before)
            return 3;
        for (std::size_t i = 0; i < live->children.size(); ++i) {
            // A value the kind rewrote (an action with surplus digits, say) is not what the host asked for.
            if (!isFile(*live->children[i].second) && scratch->children[i].second->getText() != sent[i])
                return 3;
        }
        for (std::size_t i = 0; i < live->children.size(); ++i) {
            if (!isFile(*live->children[i].second)) {
                live->children[i].second->value->setText(scratch->children[i].second->getText());
            }
        }
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> fields(const std::string& code) const override {
        std::vector<std::pair<std::string, std::string>> out;
        if (KT_TABLE* t = find(liveIndex_, code)) {
            for (const auto& [name, record] : t->children) {
                if (!isFile(*record))
                    out.emplace_back(record->key, record->getText());
            }
        }
        return out;
    }
    bool setField(const std::string& code, const std::string& key, const std::string& stored) override {
        KT_TABLE* t = find(liveIndex_, code);
        if (!t)
            return false;
        for (const auto& [name, record] : t->children) {
            if (record->key != key || isFile(*record))
                continue;
            long before = host_.messages;
            try {
                bool ok = record->value->setText(stored);
                return ok && host_.messages == before && record->getText() == stored;
            } catch (const KT_ERROR&) {
                return false;
            }
        }
        return false;
    }

private:
    using Index = std::map<std::string, KT_TABLE*>;

    static KT_TABLE* find(const Index& index, const std::string& code) {
        auto it = index.find(code);
        return it == index.end() ? nullptr : it->second;
    }

    // Every object with fields, in tree order, then the device information and the clock.
    static void index(SettingsDatabase& db, Index& idx, std::vector<std::string>& order) {
        auto add = [&](KT_TABLE* t) {
            idx[t->getText()] = t;
            order.push_back(t->getText());
        };
        for (int i = 0; i < db.root->childCount(); ++i) {
            KT_TABLE* top = db.root->tableAt(i);
            if (!top)
                continue;
            bool isList = top->childCount() > 0 && top->tableAt(0) != nullptr;
            if (!isList) {
                add(top);
                continue;
            }
            for (int k = 0; k < top->childCount(); ++k) {
                if (KT_TABLE* obj = top->tableAt(k))
                    add(obj);
            }
        }
        add(db.deviceInfo.get());
        add(db.clock.get());
    }

    FileField fileField_;
    CountingHost host_;
    host::ScopedHost scope_;
    SettingsDatabase live_;
    SettingsDatabase scratch_;
    Index liveIndex_, scratchIndex_;
    std::vector<std::string> order_;
};

} // namespace

std::unique_ptr<ObjectStore> makeSchemaStore(UnitType type, ObjectStore::FileField fileField) {
    return std::make_unique<ModelStore>(type, std::move(fileField));
}

} // namespace unitsim
