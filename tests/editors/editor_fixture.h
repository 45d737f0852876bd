// What the editor tests share: a host that records the messages instead of showing them, a new settings
// database in a private folder with the real frames attached, and a shown window to put a frame into so focus
// moves.
#pragma once

#include "editors/editor_set.h"
#include "model/host.h"
#include "model/unit_config.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace zirezid::test {

class RecordingHost : public host::Host {
public:
    void showMessage(const std::string& text, host::MessageIcon icon) override;
    void processEvents() override;
    void applyShellState(host::ShellState state) override { lastState = state; }
    host::EditorWindow* dialStringEditor() override { return dialEditor; }
    host::EditorWindow* emptyEditorFrame() override { return emptyFrame; }

    QStringList messages;
    int lastState = -1;
    host::EditorWindow* dialEditor = nullptr;
    host::EditorWindow* emptyFrame = nullptr;
};

class EditorTest : public ::testing::Test {
protected:
    EditorTest();
    ~EditorTest() override;

    // Shows the frame in the window and binds it to the object, as selecting its node does.
    void show(TKT_EDITOR* frame, KT_TABLE* object);
    // Moves the focus into the control and then away from it: the control is left.
    void leave(QWidget* control);
    KT_TABLE* object(const char* name) const { return db.findObject(name); }
    std::string field(const char* objectName, const char* key) const;
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    RecordingHost recorder;
    host::ScopedHost scopedHost{recorder};
    EditorFrames frames;
    SettingsDatabase db;
    QWidget window;
    QWidget* elsewhere; // a control outside the frame that takes the focus when a control is left
    QStringList questions;
    bool answerYes = true;
};

} // namespace zirezid::test
