// What the settings model needs from the user interface, as small abstract interfaces. The Qt shell, the
// command-line front end and the tests each provide their own implementation; the model never sees a widget.
#pragma once

#include <string>

class KT_TYPE;
class KT_TABLE;

namespace host {

// The application title: the caption of every message box the model shows.
inline constexpr const char* applicationTitle = "ZIRezid";

// Opaque handles of the shell's windows (a parent panel, a calling control, the main window). The model only
// passes them through from the caller to the editor window.
using WindowHandle = void*;

// A node of the main window's settings tree. Every node carries the table it shows as its data.
class TreeNode {
public:
    virtual ~TreeNode() = default;
    // Appends a child node with the given text and data and returns it; the tree keeps ownership.
    virtual TreeNode* addChild(const std::string& text, KT_TABLE* data) = 0;
    // Deletes every child node (and their descendants).
    virtual void deleteChildren() = 0;
    virtual int childCount() const = 0;
    virtual TreeNode* child(int index) const = 0;
    // The parent node, or nullptr for a top-level node.
    virtual TreeNode* parent() const = 0;
    virtual KT_TABLE* data() const = 0;
    virtual void setStateImage(int image) = 0;
    virtual int stateImage() const = 0;
    virtual void setImageIndex(int image) = 0;
    virtual void setText(const std::string& text) = 0;
};

// A window that edits a model object: an editor frame for a table, or the dial-string dialog for a digit
// string or an action. Frames are shown modelessly inside a panel; the dialog is run modally.
class EditorWindow {
public:
    virtual ~EditorWindow() = default;
    // Hides the window and takes it out of its parent panel.
    virtual void hideAndDetach() = 0;
    virtual void placeInto(WindowHandle parent) = 0;
    virtual void bringToFront() = 0;
    virtual void show() = 0;
    // Hands over the caller's context (the main window for a frame, the calling control for the dialog).
    virtual void takeContext(WindowHandle context) = 0;
    // Binds the window to the object it is to edit.
    virtual void editObject(KT_TYPE& object) = 0;
    // Runs the window as a modal dialog and returns when it closes.
    virtual void runModal() = 0;
};

enum class MessageIcon { None, Information, Warning, Error };

// The main window's states: a database saved, one with unsaved edits, none open, a device job or file operation
// running. The model reports an edit as stModified.
enum ShellState : int { stSaved = 0, stModified = 1, stNoBase = 2, stBusy = 3 };

// The process-wide services of the user interface.
class Host {
public:
    virtual ~Host() = default;
    // A modal message box with the application title as caption and one OK button.
    virtual void showMessage(const std::string& text, MessageIcon icon = MessageIcon::None) = 0;
    // Lets the user interface handle its pending events (long loops stay responsive).
    virtual void processEvents() = 0;
    // The main window's applyShellState.
    virtual void applyShellState(ShellState state) = 0;
    // The frame that every table gets until its builder names its own (ed_empty); may be nullptr.
    virtual EditorWindow* emptyEditorFrame() { return nullptr; }
    // The dial-string editor dialog that every digit string opens; may be nullptr.
    virtual EditorWindow* dialStringEditor() { return nullptr; }
};

// The current host. Until one is installed a quiet default serves: messages go to standard error, events and
// shell states are ignored.
Host& current();

// Installs a host (nullptr restores the default) and returns the previous one; the caller keeps ownership.
Host* install(Host* host);

// Installs a host for the lifetime of the guard (tests, the command-line tool).
class ScopedHost {
public:
    explicit ScopedHost(Host& host) : previous_(install(&host)) {}
    ~ScopedHost() { install(previous_); }
    ScopedHost(const ScopedHost&) = delete;
    ScopedHost& operator=(const ScopedHost&) = delete;

private:
    Host* previous_;
};

} // namespace host
