// The editor frames of the main window, one of each kind, created once at start-up in this order.
#pragma once

#include "editors/editor_base.h"
#include "editors/frm_spec.h"

#include <functional>
#include <memory>

class SettingsDatabase;

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
    // The dial-string editor that every digit string opens (the host's dialStringEditor).
    std::unique_ptr<Tfrm_spec> frm_spec;

    // Every frame, for unbinding them all before a database is replaced.
    std::vector<TKT_EDITOR*> all() const;
    // Makes these the database's frames: its objects are built with them, they know which database they serve
    // (messages folder, counts of the configuration), and a database about to be replaced first unbinds and
    // hides them all. askCopy is how the menu editor asks before copying another menu (true only for "Да").
    void attach(SettingsDatabase& database, std::function<bool(const QString& question)> askCopy);
    // No frame keeps showing or referring to an object.
    void releaseAll();
};

// Creates the frames, one of each kind.
EditorFrames createEditorFrames();

} // namespace zirezid
