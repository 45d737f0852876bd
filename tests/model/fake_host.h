// Recording stand-ins for the user interface the settings model talks to: a host that keeps every message and
// shell state, a tree node with real children, and an editor window that logs its calls.
#pragma once

#include "model/host.h"
#include "model/tables.h"

#include <memory>
#include <string>
#include <vector>

namespace fake {

// Records every editor-window call as a short text, in order ("placeInto", "show", "edit:KT_CODE", ...).
class EditorWindow : public host::EditorWindow {
public:
    void hideAndDetach() override { calls.push_back("hideAndDetach"); }
    void placeInto(host::WindowHandle parent) override {
        calls.push_back("placeInto");
        lastParent = parent;
    }
    void bringToFront() override { calls.push_back("bringToFront"); }
    void show() override { calls.push_back("show"); }
    void takeContext(host::WindowHandle context) override {
        calls.push_back("takeContext");
        lastContext = context;
    }
    void editObject(KT_TYPE& object) override {
        calls.push_back(std::string("edit:") + object.className());
        edited = &object;
    }
    void runModal() override { calls.push_back("runModal"); }

    std::vector<std::string> calls;
    host::WindowHandle lastParent = nullptr;
    host::WindowHandle lastContext = nullptr;
    KT_TYPE* edited = nullptr;
};

// Records messages, event processing and shell states; installs itself for its lifetime.
class Host : public host::Host {
public:
    Host() : previous_(host::install(this)) {}
    ~Host() override { host::install(previous_); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void showMessage(const std::string& text, host::MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }
    void processEvents() override { ++eventRounds; }
    void applyShellState(host::ShellState state) override { shellStates.push_back(state); }
    host::EditorWindow* emptyEditorFrame() override { return &emptyFrame; }
    host::EditorWindow* dialStringEditor() override { return &dialEditor; }

    std::string lastMessage() const { return messages.empty() ? std::string() : messages.back(); }
    void clear() {
        messages.clear();
        icons.clear();
        shellStates.clear();
        eventRounds = 0;
    }

    std::vector<std::string> messages;
    std::vector<host::MessageIcon> icons;
    std::vector<int> shellStates;
    int eventRounds = 0;
    EditorWindow emptyFrame;
    EditorWindow dialEditor;

private:
    host::Host* previous_;
};

// A tree node that owns its children, like the main window's tree widget.
class TreeNode : public host::TreeNode {
public:
    explicit TreeNode(std::string nodeText = {}, KT_TABLE* nodeData = nullptr, TreeNode* parentNode = nullptr)
        : text(std::move(nodeText)), table(nodeData), up(parentNode) {}

    host::TreeNode* addChild(const std::string& childText, KT_TABLE* childData) override {
        kids.push_back(std::make_unique<TreeNode>(childText, childData, this));
        return kids.back().get();
    }
    void deleteChildren() override { kids.clear(); }
    int childCount() const override { return static_cast<int>(kids.size()); }
    host::TreeNode* child(int index) const override { return kids.at(static_cast<std::size_t>(index)).get(); }
    host::TreeNode* parent() const override { return up; }
    KT_TABLE* data() const override { return table; }
    void setStateImage(int image) override { state = image; }
    int stateImage() const override { return state; }
    void setImageIndex(int image) override { imageIndex = image; }
    void setText(const std::string& newText) override { text = newText; }

    TreeNode* kid(int index) const { return kids.at(static_cast<std::size_t>(index)).get(); }

    std::string text;
    KT_TABLE* table;
    TreeNode* up;
    int state = -1;
    int imageIndex = 0;
    std::vector<std::unique_ptr<TreeNode>> kids;
};

// The root node of a table, made the way the main window makes it before building the tree.
inline std::unique_ptr<TreeNode> rootNodeFor(KT_TABLE& root) {
    auto node = std::make_unique<TreeNode>(root.getDescription(), &root);
    root.node = node.get();
    root.refreshNode();
    return node;
}

} // namespace fake
