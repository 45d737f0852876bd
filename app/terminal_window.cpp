#include "app/terminal_window.h"

#include "app/terminal_screen_widget.h"
#include "link/device_link.h"
#include "link/va_xymodem.h"
#include "serial/comm.h"
#include "serial/main_thread.h"
#include "serial/tty_emulation.h"

#include <QHideEvent>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

namespace zirezid {

namespace {
const QString kTerminalCaption = QStringLiteral("Терминал");
} // namespace

Tfrm_terminal::Tfrm_terminal(QWidget* parent)
    : QDialog(parent), VaTTYEmulation1(std::make_unique<serial::TVaTTYEmulation>()),
      VaYModem1(std::make_unique<serial::TVaYModem>()), ownPort_(std::make_unique<serial::TVaComm>()) {
    setObjectName(QStringLiteral("frm_terminal"));
    setWindowTitle(kTerminalCaption);
    setModal(true);

    VaTerminal1 = new TVaTerminalScreen(this);
    serial::TVaTerminal& t = VaTerminal1->terminal();
    t.SetRows(25);
    t.SetColumns(80);
    t.SetScrollBack(true);
    t.SetScrollBackRows(250);
    t.SetColor(serial::clBlack);
    t.SetFontColor(serial::clWhite);
    t.SetCursorType(serial::crsBlock);
    t.SetBlinkTime(200);
    t.SetLocalEcho(true);
    t.SetLocalEchoColor(serial::clYellow);
    t.SetWantAllKeys(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(VaTerminal1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    VaYModem1->SetMode(serial::tmDownload);
    VaYModem1->SetProtocol(serial::YModem);

    devlink::configureUnitLine(*ownPort_);
}

Tfrm_terminal::~Tfrm_terminal() {
    // The screen and the transfer component detach before the port they may be attached to goes.
    serial::TVaTerminal& t = VaTerminal1->terminal();
    t.SetComm(nullptr);
    t.SetEmulation(nullptr);
    VaYModem1.reset();
    try {
        ownPort_->Close();
    } catch (...) {
    }
}

serial::TVaComm* Tfrm_terminal::port() {
    serial::TVaComm* p = linkPort ? linkPort() : nullptr;
    if (p == nullptr)
        p = ownPort_.get();
    if (!p->Active())
        devlink::selectUnitPort(*p, comPortNumber, devicePath);
    return p;
}

void Tfrm_terminal::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormActivate();
}

void Tfrm_terminal::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        FormClose();
}

// Once per showing rather than on every activation: the window becomes active again whenever a message box
// over it closes, and opening an open port again would only bring the same error back.
void Tfrm_terminal::FormActivate() {
    serial::TVaComm* p = port();
    attachedPort_ = p;
    serial::TVaTerminal& t = VaTerminal1->terminal();
    t.SetComm(p);
    t.SetEmulation(VaTTYEmulation1.get());
    VaTerminal1->setFocus(Qt::OtherFocusReason);
    // A port the device link holds open stays the link's: the terminal borrows it and leaves it open, so a
    // connected session is not cut behind the main window's back.
    openedPort_ = !p->Active();
    if (!openedPort_)
        return;
    try {
        p->Open();
    } catch (...) {
        // Reported once the window is up, so the message box stands over it.
        QTimer::singleShot(0, this,
                           [error = std::current_exception()] { serial::MainThreadHost().HandleException(error); });
    }
}

void Tfrm_terminal::FormClose() {
    serial::TVaTerminal& t = VaTerminal1->terminal();
    t.SetComm(nullptr);
    t.SetEmulation(nullptr);
    serial::TVaComm* p = attachedPort_;
    attachedPort_ = nullptr;
    if (p == nullptr || !openedPort_)
        return;
    try {
        p->Close();
    } catch (...) {
        serial::MainThreadHost().HandleException(std::current_exception());
    }
}

} // namespace zirezid
