#include "editors/editor_set.h"

#include "editors/simple_editors.h"

namespace zirezid {

std::vector<TKT_EDITOR*> EditorFrames::all() const {
    return {ed_base.get(), ed_sysparam.get(), ed_trk.get(),  ed_menu.get(),
            ed_mailbox.get(), ed_timetable.get(), ed_slp.get(), ed_empty.get()};
}

EditorFrames createEditorFrames() {
    EditorFrames frames;
    frames.ed_base = std::make_unique<Ted_base>();
    frames.ed_sysparam = std::make_unique<Ted_sysparam>();
    frames.ed_trk = std::make_unique<Ted_empty>();
    frames.ed_menu = std::make_unique<Ted_empty>();
    frames.ed_mailbox = std::make_unique<Ted_mailbox>();
    frames.ed_timetable = std::make_unique<Ted_empty>();
    frames.ed_slp = std::make_unique<Ted_empty>();
    frames.ed_empty = std::make_unique<Ted_empty>();
    frames.ed_trk->setObjectName(QStringLiteral("ed_trk"));
    frames.ed_menu->setObjectName(QStringLiteral("ed_menu"));
    frames.ed_timetable->setObjectName(QStringLiteral("ed_timetable"));
    frames.ed_slp->setObjectName(QStringLiteral("ed_slp"));
    frames.ed_empty->setObjectName(QStringLiteral("ed_empty"));
    return frames;
}

} // namespace zirezid
