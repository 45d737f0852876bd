#include "editor_fixture.h"

#include "model/tables.h"

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest/QTest>

namespace zirezid::test {

void RecordingHost::showMessage(const std::string& text, host::MessageIcon) {
    messages << QString::fromStdString(text);
}

void RecordingHost::processEvents() { QCoreApplication::processEvents(); }

EditorTest::EditorTest() {
    frames = createEditorFrames();
    recorder.dialEditor = frames.frm_spec.get();
    recorder.emptyFrame = frames.ed_empty.get();
    frames.attach(db, [this](const QString& question) {
        questions << question;
        return answerYes;
    });
    const std::string base = dir.filePath(QStringLiteral("site.qor")).toStdString();
    db.buildNewBase(base);
    db.messagesFolder = messagesFolderFor(base);
    auto* layout = new QVBoxLayout(&window);
    elsewhere = new QLineEdit(&window);
    elsewhere->setObjectName(QStringLiteral("elsewhere"));
    layout->addWidget(elsewhere);
    window.resize(700, 600);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

EditorTest::~EditorTest() { frames.releaseAll(); }

void EditorTest::show(TKT_EDITOR* frame, KT_TABLE* object) {
    ASSERT_NE(object, nullptr);
    object->showEditor(&window, nullptr);
    ASSERT_EQ(frame->boundObject, object);
}

void EditorTest::leave(QWidget* control) {
    // A modal dialog that closed may have left no window active.
    if (!window.isActiveWindow()) {
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    control->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(control->hasFocus() || control->isAncestorOf(QApplication::focusWidget()))
        << control->objectName().toStdString();
    elsewhere->setFocus(Qt::TabFocusReason);
}

std::string EditorTest::field(const char* objectName, const char* key) const {
    KT_TABLE* t = object(objectName);
    KT_RECORD* r = t != nullptr ? t->findChild(key) : nullptr;
    return r != nullptr ? r->getText() : std::string("<none>");
}

} // namespace zirezid::test
