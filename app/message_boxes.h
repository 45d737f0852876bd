// The fixed-button message boxes, the one-line edit box and the About box. Each exists once and is shown again
// on every use; the show operations answer the standard modal result codes.
#pragma once

#include "link/link_ui.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zirezid {

// The boxes answer the link's modal results: one set of codes on both sides.
using ModalResult = devlink::ModalResult;
using enum devlink::ModalResult;

// Common frame of the three boxes: stop picture, centred word-wrapped text, a row of buttons.
class MessageBoxBase : public QDialog {
    Q_OBJECT
public:
    QLabel* lbl_Text = nullptr;

protected:
    MessageBoxBase(QWidget* parent, const QString& caption);
    QPushButton* addButton(const QString& caption, int result, const char* name);
    int showWith(const QString& text, QPushButton* focus);
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override; // the close box answers Cancel
    // What Escape answers; mrNone means Escape does nothing.
    int escapeResult = mrNone;

private:
    QWidget* buttonRow_ = nullptr;
};

class Tfrm_msg_err_ari : public MessageBoxBase {
    Q_OBJECT
public:
    explicit Tfrm_msg_err_ari(QWidget* parent);
    int askAbortRetryIgnore(const QString& text);
    int askAbortRetry(const QString& text);
    QPushButton* btn_Abort;
    QPushButton* btn_Retry;
    QPushButton* btn_Ignore;
    QPushButton* btn_Cancel;
};

class Tfrm_msg_warn_query : public MessageBoxBase {
    Q_OBJECT
public:
    explicit Tfrm_msg_warn_query(QWidget* parent);
    int askYesNoCancel(const QString& text);
    QPushButton* btn_Yes;
    QPushButton* btn_Cancel;
    QPushButton* btn_No;
};

class Tfrm_msg_warn_query_all : public MessageBoxBase {
    Q_OBJECT
public:
    explicit Tfrm_msg_warn_query_all(QWidget* parent);
    int askYesNoAll(const QString& text);
    QPushButton* btn_Yes;
    QPushButton* btn_No;
    QPushButton* btn_YesToAll;
    QPushButton* btn_NoToAll;
    QPushButton* btn_Cancel;
};

// The one-line edit box; the login uses it to ask for another password.
class Tfrm_editbox : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_editbox(QWidget* parent);
    // Shows the box modally; answers true on OK with the trimmed text in `text`.
    bool ask(const QString& caption, const QString& label, QString& text);
    QLabel* lb_00;
    QLineEdit* me_01;
    QPushButton* btn_Ok;
    QPushButton* btn_Cancel;

protected:
    void showEvent(QShowEvent* event) override;
};

class Tfrm_about : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_about(QWidget* parent);
    QPushButton* btn_Ok;
};

// The plain one-button box with the application title, used for the shell's own messages.
void showMessage(QWidget* parent, const QString& text, bool error = false);

} // namespace zirezid
