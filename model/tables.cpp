#include "model/tables.h"

#include <algorithm>
#include <cctype>

namespace {

// Case-insensitive comparison of list names; the names are ASCII, other bytes compare exactly.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void trimLeadingBlanks(std::string& s) { s.erase(0, s.find_first_not_of(' ')); }

// The name part of a file field sent by the unit: "{a:name:b}" gives "name.wav".
std::string deviceFileName(std::string token) {
    if (token.empty())
        return token;
    const std::size_t first = token.find(':');
    if (first != std::string::npos)
        token.erase(0, first + 1);
    const std::size_t next = token.find(':');
    if (next != std::string::npos)
        token.erase(next);
    // No name, or the unit's own "no file", stays "no file".
    if (token.empty() || token == "-")
        return "-";
    const std::size_t sep = token.find_last_of("/\\");
    const std::size_t dot = token.rfind('.');
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep))
        token.erase(dot);
    return token + ".wav";
}

} // namespace

// ---- KT_RECORD ----

KT_RECORD::KT_RECORD(std::unique_ptr<KT_TYPE> v, std::string k, std::string c, std::string d)
    : description(std::move(d)), key(std::move(k)), code(std::move(c)), value(std::move(v)) {
    if (value)
        value->ownerRecord = this;
}

KT_RECORD::~KT_RECORD() = default;

std::int32_t KT_RECORD::getInt() { return value->getInt(); }
std::string KT_RECORD::getEditText() { return value->getEditText(); }
std::string KT_RECORD::getText() { return value->getText(); }
std::string KT_RECORD::getDescription() { return value->getDescription(); }

KT_TABLE* KT_RECORD::table() const { return dynamic_cast<KT_TABLE*>(value.get()); }

void KT_RECORD::showError(const std::string& message) const {
    host::current().showMessage(key + " (" + description + ") " + ": " + message);
}

template <class Op, class State> bool KT_RECORD::changeTracked(Op op, State state) {
    const std::string old = state();
    bool ok = false;
    bool raised = false;
    std::string message;
    try {
        ok = op();
    } catch (const std::exception& e) {
        raised = true;
        message = e.what();
    }
    // A refused action parameter can leave the action switched to its new kind; that is still a change of the
    // object, so the comparison runs after an error too (for every other kind a refusal changes nothing).
    changed = state() != old;
    // Storing the text a field already holds is no edit: refreshing would tell the window the database changed
    // (a root marked from an earlier edit counts as modified), and a control committed on its way out after a
    // save would bring the unsaved-changes question back.
    if (changed && ownerTable) {
        ownerTable->markState = kMarkChanged;
        ownerTable->refreshNode();
        markUp(*ownerTable, ownerTable->markState);
    }
    if (raised) {
        showError(message);
        return false;
    }
    return ok;
}

bool KT_RECORD::setText(const std::string& text) {
    return changeTracked([&] { return value->setText(text); }, [&] { return value->getText(); });
}

bool KT_RECORD::setEditText(const std::string& text) {
    return changeTracked([&] { return value->setEditText(text); }, [&] { return value->getEditText(); });
}

void KT_RECORD::setInt(std::int32_t n) {
    // Compared by getInt; a value without a number compares by its text instead of failing.
    changeTracked(
        [&] {
            value->setInt(n);
            return true;
        },
        [&]() -> std::string {
            try {
                return std::to_string(value->getInt());
            } catch (const std::exception&) {
                return "\x01" + value->getText();
            }
        });
}

// ---- KT_TABLE ----

KT_TABLE::KT_TABLE() {
    name = "table name";
    description = "table description";
    valueText = "table value";
    editorFrame = host::current().emptyEditorFrame();
}

KT_TABLE::~KT_TABLE() = default;

void KT_TABLE::hideEditor() {
    if (editorFrame)
        editorFrame->hideAndDetach();
}

void KT_TABLE::showEditor(host::WindowHandle parent, host::WindowHandle context) {
    if (!editorFrame)
        return;
    if (parent)
        editorFrame->placeInto(parent);
    editorFrame->bringToFront();
    editorFrame->show();
    editorFrame->takeContext(context);
    editorFrame->editObject(*this);
}

std::string KT_TABLE::getDescription() {
    if (KT_RECORD* desc = findChild("Desc")) {
        const std::string text = desc->getEditText();
        if (!text.empty())
            return description + " : " + text;
    }
    return description;
}

void KT_TABLE::refreshNode() {
    if (!node)
        return;
    node->setStateImage(markState);
    node->setImageIndex(nodeImage);
}

void KT_TABLE::fillList(KT_STRING_LIST& list) {
    list.clear();
    for (auto& [listName, record] : children) {
        KT_TABLE* t = record->table();
        if (t && t->isVisible)
            list.push_back({t->getDescription(), record.get()});
    }
}

std::string KT_TABLE::buildDeviceText() {
    std::string out;
    for (auto& [listName, record] : children) {
        if (kt_cast<KT_FILE>(record->value.get()))
            continue;
        out += record->getText();
        out += ' ';
    }
    return out;
}

void KT_TABLE::parseDeviceText(const std::string& text) {
    std::string rest = text;
    for (auto& [listName, record] : children) {
        trimLeadingBlanks(rest);
        std::string token;
        KT_TYPE* v = record->value.get();
        if (kt_cast<KT_FILE>(v)) {
            const std::size_t open = rest.find('{');
            if (open != std::string::npos)
                rest.erase(0, open + 1);
            const std::size_t close = rest.find('}');
            if (close != std::string::npos) {
                token = rest.substr(0, close);
                rest.erase(0, close + 1);
            }
            token = deviceFileName(token);
        } else if (kt_cast<KT_STR>(v)) {
            const std::size_t open = rest.find('\'');
            if (open != std::string::npos)
                rest.erase(0, open + 1);
            const std::size_t close = rest.find('\'');
            if (close != std::string::npos) {
                token = rest.substr(0, close);
                rest.erase(0, close + 1);
            }
        } else {
            const std::size_t blank = rest.find(' ');
            if (blank == std::string::npos) {
                token = rest;
                rest.clear();
            } else {
                token = rest.substr(0, blank);
                rest.erase(0, blank);
            }
        }
        record->setText(token);
    }
}

KT_RECORD* KT_TABLE::addChild(const std::string& listName, std::unique_ptr<KT_RECORD> record) {
    record->ownerTable = this;
    children.emplace_back(listName, std::move(record));
    return children.back().second.get();
}

KT_RECORD* KT_TABLE::addField(std::unique_ptr<KT_TYPE> value, const std::string& key, const std::string& code,
                              const std::string& desc, const std::string& listName) {
    return addChild(listName.empty() ? key : listName, std::make_unique<KT_RECORD>(std::move(value), key, code, desc));
}

void KT_TABLE::addSubTable(std::unique_ptr<KT_TABLE> sub) {
    const std::string objectName = sub->name;
    const std::string objectCode = sub->valueText;
    const std::string caption = sub->getDescription();
    addChild(objectName, std::make_unique<KT_RECORD>(std::move(sub), objectName, objectCode, caption));
}

int KT_TABLE::indexOfChild(std::string_view listName) const {
    for (std::size_t i = 0; i < children.size(); ++i)
        if (sameName(children[i].first, listName))
            return static_cast<int>(i);
    return -1;
}

KT_RECORD* KT_TABLE::findChild(std::string_view listName) const { return childAt(indexOfChild(listName)); }

KT_RECORD* KT_TABLE::childAt(int position) const {
    if (position < 0 || position >= childCount())
        return nullptr;
    return children[static_cast<std::size_t>(position)].second.get();
}

std::string KT_TABLE::childNameAt(int position) const {
    if (position < 0 || position >= childCount())
        return "0";
    return children[static_cast<std::size_t>(position)].first;
}

std::unique_ptr<KT_RECORD> KT_TABLE::removeChildAt(int position) {
    if (position < 0 || position >= childCount())
        return nullptr;
    auto it = children.begin() + position;
    std::unique_ptr<KT_RECORD> record = std::move(it->second);
    children.erase(it);
    return record;
}

KT_TABLE* KT_TABLE::findTable(std::string_view listName) const {
    KT_RECORD* r = findChild(listName);
    return r ? r->table() : nullptr;
}

KT_TABLE* KT_TABLE::tableAt(int position) const {
    KT_RECORD* r = childAt(position);
    return r ? r->table() : nullptr;
}

// ---- derived tables ----

void KT_BASE::refreshNode() {
    KT_TABLE::refreshNode();
    if (markState == kMarkMixed || markState == kMarkChanged)
        host::current().applyShellState(host::stModified);
}

void KT_TABLE_CAPTIONED::refreshNode() {
    KT_TABLE::refreshNode();
    if (node)
        node->setText(getDescription());
}

// ---- tree ----

bool isTreeTable(const KT_TABLE& table) {
    return dynamic_cast<const KT_TABLE_OBJECT*>(&table) || dynamic_cast<const KT_TABLE_LIST*>(&table);
}

namespace {

// The nodes below a table are about to be deleted: no object may keep pointing at one, including objects that
// the rebuilt tree leaves out (invisible ones and their subtrees).
void forgetNodesBelow(KT_TABLE& table) {
    for (auto& [listName, record] : table.children)
        if (KT_TABLE* child = record->table()) {
            child->node = nullptr;
            forgetNodesBelow(*child);
        }
}

} // namespace

void buildTree(KT_TABLE& table) {
    if (!table.node)
        return;
    forgetNodesBelow(table);
    table.node->deleteChildren();
    for (auto& [listName, record] : table.children) {
        KT_TABLE* child = record->table();
        if (!child || !child->isVisible || !isTreeTable(*child))
            continue;
        child->node = table.node->addChild(child->getDescription(), child);
        child->refreshNode();
        buildTree(*child);
    }
}

void markDown(KT_TABLE& table, int mark) {
    if (!table.node)
        return;
    for (int i = 0; i < table.node->childCount(); ++i) {
        KT_TABLE* child = table.node->child(i)->data();
        if (!child)
            continue;
        child->markState = mark;
        child->refreshNode();
        markDown(*child, mark);
    }
}

void markUp(KT_TABLE& table, int mark) {
    if (!table.node)
        return;
    for (host::TreeNode* n = table.node->parent(); n; n = n->parent()) {
        KT_TABLE* ancestor = n->data();
        if (!ancestor)
            continue;
        ancestor->markState = uniformMark(*ancestor, mark) == mark ? mark : kMarkMixed;
        ancestor->refreshNode();
    }
}

int uniformMark(const KT_TABLE& table, int mark) {
    if (!table.node)
        return -1;
    for (int i = 0; i < table.node->childCount(); ++i) {
        const int image = table.node->child(i)->stateImage();
        if (image != mark)
            return image;
    }
    return mark;
}

namespace {
// The tree's rule (buildTree): visible object and list tables get a node.
template <class Wanted> void fillLeaves(KT_TABLE& table, KT_MARK_LIST& list, const Wanted& wanted) {
    bool hasTreeChildren = false;
    for (auto& [listName, record] : table.children)
        if (KT_TABLE* sub = record->table(); sub && sub->isVisible && isTreeTable(*sub)) {
            hasTreeChildren = true;
            fillLeaves(*sub, list, wanted);
        }
    if (!hasTreeChildren && isTreeTable(table) && !dynamic_cast<const KT_BASE*>(&table) && wanted(table))
        list.emplace_back(table.getDescription(), &table);
}
} // namespace

void fillLeafList(KT_TABLE& table, KT_MARK_LIST& list) {
    fillLeaves(table, list, [](const KT_TABLE&) { return true; });
}

void fillMarkList(KT_TABLE& table, KT_MARK_LIST& list) {
    fillLeaves(table, list, [](const KT_TABLE& t) { return t.markState > kMarkNone; });
}
