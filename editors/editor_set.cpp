#include "editors/editor_set.h"

#include "editors/simple_editors.h"
#include "editors/ted_lines.h"
#include "editors/ted_menu.h"
#include "editors/ted_timetable.h"
#include "model/unit_config.h"

namespace zirezid {

std::vector<TKT_EDITOR*> EditorFrames::all() const {
    return {ed_base.get(),    ed_sysparam.get(),  ed_trk.get(), ed_menu.get(),
            ed_mailbox.get(), ed_timetable.get(), ed_slp.get(), ed_empty.get()};
}

void EditorFrames::attach(SettingsDatabase& database, std::function<bool(const QString& question)> askCopy) {
    database.frames.ed_base = ed_base.get();
    database.frames.ed_sysparam = ed_sysparam.get();
    database.frames.ed_timetable = ed_timetable.get();
    database.frames.ed_trk = ed_trk.get();
    database.frames.ed_slp = ed_slp.get();
    database.frames.ed_menu = ed_menu.get();
    database.frames.ed_mailbox = ed_mailbox.get();
    database.unbindEditors = [this] { releaseAll(); };
    if (auto* menu = dynamic_cast<Ted_menu*>(ed_menu.get())) {
        menu->database = &database;
        menu->askCopy = std::move(askCopy);
    }
    if (frm_spec)
        frm_spec->database = &database;
}

void EditorFrames::releaseAll() {
    for (TKT_EDITOR* frame : all()) {
        frame->unbind();
        frame->hideAndDetach();
    }
}

EditorFrames createEditorFrames() {
    EditorFrames frames;
    frames.ed_base = std::make_unique<Ted_base>();
    frames.ed_sysparam = std::make_unique<Ted_sysparam>();
    frames.ed_trk = std::make_unique<Ted_trk>();
    frames.ed_menu = std::make_unique<Ted_menu>();
    frames.ed_mailbox = std::make_unique<Ted_mailbox>();
    frames.ed_timetable = std::make_unique<Ted_timetable>();
    frames.ed_slp = std::make_unique<Ted_slp>();
    frames.ed_empty = std::make_unique<Ted_empty>();
    frames.ed_empty->setObjectName(QStringLiteral("ed_empty"));
    frames.frm_spec = std::make_unique<Tfrm_spec>();
    return frames;
}

} // namespace zirezid
