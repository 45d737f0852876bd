// Tfrm_spec, the dial-string editor: builds a string of digits and special combinations from the field's
// table of specials, shows the string split into its elements with their meanings, and writes the result back
// into the text field it was opened from. Tfrm_spec1 asks for the number of a special's placeholders.
#pragma once

#include "model/dial_specials.h"
#include "model/host.h"

#include <QDialog>
#include <functional>

class KT_TYPE;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QToolButton;
class SettingsDatabase;

namespace zirezid {

// An up-down control: a position between two bounds, stepped by its two buttons, without wrapping.
class KtUpDown : public QWidget {
    Q_OBJECT
public:
    explicit KtUpDown(QWidget* parent);
    void setRange(int min, int max);
    void setPosition(int position);
    int position() const { return position_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    void step(int delta);
    QToolButton* bt_Up;
    QToolButton* bt_Down;

signals:
    void positionChanged(int position);

private:
    int min_ = 0;
    int max_ = 0;
    int position_ = 0;
};

class Tfrm_spec1 : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_spec1(QWidget* parent);
    // Shows the description and the range; true on OK with the chosen number.
    bool ask(const QString& description, int min, int max, int& number);

    QPlainTextEdit* mem1;
    QLineEdit* me1;
    KtUpDown* ud1;
    QPushButton* bt_Ok;
    QPushButton* bt_Cancel;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class Tfrm_spec : public QDialog, public host::EditorWindow {
    Q_OBJECT
public:
    explicit Tfrm_spec(QWidget* parent = nullptr);
    ~Tfrm_spec() override;

    // host::EditorWindow: the model opens the dialog for a digit string or an action.
    void hideAndDetach() override {}
    void placeInto(host::WindowHandle) override {}
    void bringToFront() override { raise(); }
    void show() override { QDialog::show(); }
    // The calling control: the editor's text field (a QLineEdit).
    void takeContext(host::WindowHandle context) override;
    void editObject(KT_TYPE& object) override;
    void runModal() override { exec(); }

    // Refills the element grid from the text of `me`.
    void refresh();
    void bt_AddClick();
    void bt_InsClick();
    void bt_DelClick();
    void bt_OkClick();

    // The number of menus, the range of "*94XX"; set by the window that owns the dialog.
    SettingsDatabase* database = nullptr;
    // Asks for the number of a special's placeholders; tests replace it.
    std::function<bool(const QString& description, int min, int max, int& number)> askNumber;

    QLineEdit* me;
    QTableWidget* grd_dst;
    QTableWidget* grd_src;
    QPushButton* bt_Add;
    QPushButton* bt_Ins;
    QPushButton* bt_Del;
    QPushButton* bt_Ok;
    QPushButton* bt_Cancel;
    Tfrm_spec1* frm_spec1;

    // Set when the element grid was left more recently than `me`.
    bool gridLastUsed = false;
    const KT_SPEC& specials() const { return specials_; }
    QLineEdit* callingField() const { return calling_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The piece for the selected special; false when the user cancelled.
    bool askPiece(QString& piece);
    int menuCount() const;
    void setText(const QString& text, int caret);
    KT_TYPE* field_ = nullptr;
    QLineEdit* calling_ = nullptr;
    KT_SPEC specials_;
    int maxLength_ = 32;
};

} // namespace zirezid
