// Tfrm_terminal ("Терминал"), the service terminal: a teletype screen on the unit's serial line. While shown,
// the screen is a client of the port, so the port's bytes appear on it and typed keys go to the unit.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace serial {
class TVaComm;
class TVaTTYEmulation;
class TVaYModem;
} // namespace serial

namespace zirezid {

class TVaTerminalScreen;

class Tfrm_terminal : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_terminal(QWidget* parent = nullptr);
    ~Tfrm_terminal() override;

    // The port the screen attaches to: the device link's port when linkPort gives one, otherwise the window's
    // own port set up like the link's (38400 bit/s, 8N2, no flow control). A port that is not open yet is
    // pointed at comPortNumber, or at devicePath when that is not empty.
    std::function<serial::TVaComm*()> linkPort;
    int comPortNumber = 1;
    std::string devicePath;
    serial::TVaComm* port();

    TVaTerminalScreen* VaTerminal1;
    std::unique_ptr<serial::TVaTTYEmulation> VaTTYEmulation1;
    // A YMODEM download component; no control of the window starts it.
    std::unique_ptr<serial::TVaYModem> VaYModem1;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormActivate();
    void FormClose();

    std::unique_ptr<serial::TVaComm> ownPort_;
    serial::TVaComm* attachedPort_ = nullptr;
    bool openedPort_ = false; // whether this showing opened the port, and so closes it
};

} // namespace zirezid
