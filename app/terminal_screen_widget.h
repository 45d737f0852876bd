// The terminal screen as a control: paints the screen store of serial::TVaTerminal with its caret and
// scroll-back bar, and gives typed keys to it. The store, the text rules and the port link are all in the
// core.
#pragma once

#include "serial/terminal.h"

#include <QWidget>

class QScrollBar;
class QTimer;

namespace zirezid {

class TVaTerminalScreen : public QWidget {
    Q_OBJECT
public:
    explicit TVaTerminalScreen(QWidget* parent = nullptr);
    ~TVaTerminalScreen() override;

    serial::TVaTerminal& terminal() { return terminal_; }
    const serial::TVaTerminal& terminal() const { return terminal_; }

    // Font: a fixed-pitch font; the text colour is the terminal's FontColor.
    void setTerminalFont(const QFont& font);
    QSize cellSize() const { return cell_; }
    QScrollBar* scrollBar() const { return scrollBar_; }
    // Whether the blinking caret is drawn now (focus, a visible caret type, the blink phase).
    bool caretShown() const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void terminalUpdated(bool resized);
    void updateScrollBar();
    void restartBlink();
    // Runs a call into the core; a port failure goes to the application's exception handler.
    template <class F> void guarded(F&& call);

    serial::TVaTerminal terminal_;
    QScrollBar* scrollBar_;
    QTimer* blink_;
    QSize cell_;
    int ascent_ = 0;
    bool blinkOn_ = true;
};

} // namespace zirezid
