#include "model/actions.h"

void KT_ACTIONS::fillList(KT_STRING_LIST& list) {
    list.clear();
    for (auto& [listName, record] : children)
        list.push_back({record->description, record.get()});
}

std::unique_ptr<KT_ACTIONS> buildActions() {
    auto t = std::make_unique<KT_ACTIONS>();
    t->name = "ACTIONS";
    t->description = "действия";
    t->valueText = "";
    t->defaultAction = kActionNone;
    t->addField(std::make_unique<KT_TYPE>(), kActionNone, "00", "Игнорировать событие");
    t->addField(std::make_unique<KT_CODE>("00", 2, 2), kActionToMenu, "01", "Перейти к другому меню");
    t->addField(std::make_unique<KT_CODE>("002000", 6, 6), kActionToSlp, "02", "Звонок на оператора");
    t->addField(std::make_unique<KT_CODE>("00", 2, 2), kActionLvMsg, "03", "Оставить сообщение");
    t->addField(std::make_unique<KT_TYPE>(), kActionBack, "04", "Вернуться к предыдущему меню");
    return t;
}

KT_ACTION::KT_ACTION(KT_ACTIONS& kinds) : actions(&kinds) {
    description = "действие";
    rangeMessage = kt_text::actionTypeMessage;
    allowedChars = "0123456789";
    setName(actions->defaultAction);
}

KT_ACTION::~KT_ACTION() = default;

KT_RECORD* KT_ACTION::kindRecord() const { return actions ? actions->findChild(name) : nullptr; }

bool KT_ACTION::setName(const std::string& text) {
    if (text == name)
        return false;
    KT_RECORD* kind = actions ? actions->findChild(text) : nullptr;
    if (!kind)
        throw KT_ERROR(rangeMessage);
    name = kind->key;
    description = kind->description;
    param.reset();
    if (kind->value && std::string(kind->value->className()) == "KT_CODE") {
        param = std::make_unique<KT_CODE>();
        param->assign(static_cast<const KT_CODE&>(*kind->value));
    }
    return true;
}

bool KT_ACTION::setText(const std::string& text) {
    // An empty text (a value missing from the unit's line) means the default kind, as other kinds take their
    // default for an empty text.
    if (text.empty()) {
        if (name != actions->defaultAction)
            setName(actions->defaultAction);
        else if (param)
            param->setText({});
        return true;
    }
    const std::string code = text.substr(0, 2);
    const std::string paramText = text.size() > 2 ? text.substr(2) : std::string();
    const KT_RECORD* kind = nullptr;
    for (auto& [listName, record] : actions->children)
        if (record->code == code) {
            kind = record.get();
            break;
        }
    // An unknown code is refused; the action keeps the kind it has.
    if (!kind)
        throw KT_ERROR(rangeMessage);
    if (kind->key != name)
        setName(kind->key);
    if (param)
        return param->setEditText(paramText);
    return true;
}

bool KT_ACTION::setInt(std::int32_t index) { return setName(actions->childNameAt(index)); }

bool KT_ACTION::setEditText(const std::string& text) { return param ? param->setEditText(text) : false; }

std::int32_t KT_ACTION::getInt() { return actions->indexOfChild(name); }

std::string KT_ACTION::getEditText() { return param ? param->getEditText() : "NULL"; }

bool KT_ACTION::isKeyAllowed(char32_t key, const std::string& current) {
    return param ? param->isKeyAllowed(key, current) : false;
}

void KT_ACTION::showEditor(host::WindowHandle parent, host::WindowHandle context) {
    host::EditorWindow* w = param ? param->editor : nullptr;
    if (!w)
        return;
    if (parent)
        w->placeInto(parent);
    w->bringToFront();
    w->takeContext(context);
    w->editObject(*this);
    w->runModal();
}

std::string KT_ACTION::getText() {
    const KT_RECORD* kind = kindRecord();
    return (kind ? kind->code : std::string()) + (param ? param->getEditText() : std::string());
}

std::string KT_ACTION::getParamDescription() {
    KT_RECORD* kind = kindRecord();
    return kind ? kind->getDescription() : std::string();
}

namespace {

// The root of the tree that holds the action: the first table up the owner chain without an owner of its own.
KT_TABLE* rootOf(const KT_TYPE& value) {
    KT_TABLE* t = value.ownerRecord ? value.ownerRecord->ownerTable : nullptr;
    while (t && t->ownerRecord && t->ownerRecord->ownerTable)
        t = t->ownerRecord->ownerTable;
    return t;
}

} // namespace

std::string KT_ACTION::getParamCaption() {
    if (name != kActionToMenu)
        return getEditText();
    if (!param)
        return "NULL";
    const std::string p = param->getEditText();
    std::string caption;
    KT_TABLE* root = rootOf(*this);
    KT_TABLE* menus = root ? root->findTable("MENUS") : nullptr;
    const bool numeric = p.size() >= 2 && p[0] >= '0' && p[0] <= '9' && p[1] >= '0' && p[1] <= '9';
    KT_TABLE* menu = menus && numeric ? menus->tableAt((p[0] - '0') * 10 + (p[1] - '0')) : nullptr;
    // A menu number beyond the database's menus (or an action outside a tree) reads as the bare number.
    caption = menu ? menu->getDescription() : "меню " + p.substr(0, 2);
    if (p.size() >= 3 && p[2] == '1')
        caption += " профиль " + p.substr(3, 2);
    if (p.size() >= 6 && p[5] == '1')
        caption += ", язык " + p.substr(6, 1);
    return caption;
}
