// The editor frames of the main window, one of each kind, created once at start-up in this order.
#pragma once

#include "editors/editor_base.h"

#include <memory>

namespace zirezid {

struct EditorFrames {
    std::unique_ptr<TKT_EDITOR> ed_base;
    std::unique_ptr<TKT_EDITOR> ed_sysparam;
    std::unique_ptr<TKT_EDITOR> ed_trk;
    std::unique_ptr<TKT_EDITOR> ed_menu;
    std::unique_ptr<TKT_EDITOR> ed_mailbox;
    std::unique_ptr<TKT_EDITOR> ed_timetable;
    std::unique_ptr<TKT_EDITOR> ed_slp;
    std::unique_ptr<TKT_EDITOR> ed_empty;

    // Every frame, for unbinding them all before a database is replaced.
    std::vector<TKT_EDITOR*> all() const;
};

// Creates the frames. Kinds whose editor is not built yet get a blank frame of their own.
EditorFrames createEditorFrames();

} // namespace zirezid
