// TKT_EDITOR, the base of every editor frame: binds the frame's input controls to one object's field records,
// stores a control into its field when the user leaves or clicks it, filters keystrokes by the field's value kind,
// and shows the field's own text again after every store.
#pragma once

#include "model/host.h"

#include <QFrame>
#include <QLineEdit>
#include <QGroupBox>
#include <QSet>
#include <QStringList>

class KT_RECORD;
class KT_TABLE;
class QButtonGroup;
class QLabel;

namespace zirezid {

// What an editor frame asks of the window it is shown in.
class EditorOwner {
public:
    virtual ~EditorOwner() = default;
    // Selects the tree node of `object` (opening its parent if needed), which shows the object's editor.
    virtual void selectObjectNode(KT_TABLE& object) = 0;
};

// The masked edit: a line edit whose keystrokes the bound value's key filter decides. Plain edits are QLineEdit.
class KtMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit KtMaskEdit(QWidget* parent) : QLineEdit(parent) {}
};

// A radio group: a titled box with one radio button per item, laid out in columns; the item index is the field.
class KtRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    KtRadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent);
    int itemIndex() const;
    void setItemIndex(int index);
    QButtonGroup* buttons() const { return group_; }

private:
    QButtonGroup* group_;
};

class TKT_EDITOR : public QFrame, public host::EditorWindow {
    Q_OBJECT
public:
    explicit TKT_EDITOR(QWidget* parent = nullptr);
    ~TKT_EDITOR() override;

    // host::EditorWindow: how the model shows and hides the frame for an object.
    void hideAndDetach() override;
    void placeInto(host::WindowHandle parent) override;
    void bringToFront() override;
    void show() override;
    void takeContext(host::WindowHandle context) override;
    void editObject(KT_TYPE& object) override;
    void runModal() override {}

    // Shows the object in the frame; derived editors load their controls first, then call the base.
    virtual void bindObject(KT_TABLE* object);
    // Detaches the handlers that bindObject attached.
    virtual void unbindControls();
    // Stores a control's value when the control loses the focus.
    virtual void controlExit(QWidget* control);
    // Reacts to a click on a check box, radio group or speed button.
    virtual void controlClick(QWidget* control);
    // Answers whether the keystroke may reach the control.
    virtual bool controlKeyPress(QWidget* control, char32_t key);

    // Forgets the bound object and every tag before the objects go (a database is replaced).
    void unbind();
    // Stores the control that has the focus, so a command run from the menu or tool bar sees what was typed.
    void commitPending();

    // The tag of a control: the field record it edits (or, for a speed button, the input control it serves).
    static void setTag(QWidget* control, KT_RECORD* record);
    static KT_RECORD* tag(const QWidget* control);
    static void setTagControl(QWidget* button, QWidget* input);
    static QWidget* tagControl(const QWidget* button);

    // Loads a control from its record, sets its hint and tag: the shared step of the derived bindObject.
    void loadControl(QWidget* control, const char* fieldKey);

    // The last reason told for a refused key (shown as a balloon under the field).
    QString lastRefusal;

    KT_TABLE* boundObject = nullptr;
    EditorOwner* ownerWindow = nullptr;

    QFrame* pnl_top;
    QLabel* Image1;
    QLabel* stCaption;
    QWidget* pnl_middle;
    QFrame* pnl_bottom;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The frame's input controls: those inside the frame, the heading excepted.
    QList<QWidget*> ownedControls() const;
    bool attached() const { return attached_; }
    void setHeadingPicture(const QPixmap& picture);
    // Typing the text in character by character through the key filter: how a paste reaches a masked edit.
    void typeInto(QLineEdit* edit, const QString& text);
    // Tells why the key filter refused a key, when the value kind has a reason worth telling.
    void tellRefusal(QLineEdit* edit, char32_t key);

private:
    void wire(QWidget* control);
    QWidget* controlOf(QObject* watched) const;
    bool attached_ = false;
    bool storing_ = false;
    QSet<QWidget*> wired_;
};

// A heading picture for the kind of object an editor shows, drawn here.
QPixmap headingPicture(int kind);

} // namespace zirezid
