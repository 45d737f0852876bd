#include "app/terminal_screen_widget.h"

#include "model/cp1251.h"
#include "serial/main_thread.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <exception>

namespace zirezid {

namespace {

QColor toQColor(serial::TColor c) { return QColor::fromRgb(static_cast<QRgb>(c)); }

// What a byte on the line looks like: the unit speaks Windows-1251; control bytes show as blanks.
QChar glyph(std::uint8_t ch) {
    if (ch < 0x20 || ch == 0x7F)
        return QLatin1Char(' ');
    const char byte = static_cast<char>(ch);
    const QString text = QString::fromStdString(cp1251::toUtf8(std::string_view(&byte, 1)));
    return text.isEmpty() ? QLatin1Char(' ') : text.at(0);
}

} // namespace

TVaTerminalScreen::TVaTerminalScreen(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("VaTerminal1"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);

    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setObjectName(QStringLiteral("sb_ScrollBack"));
    scrollBar_->setFocusPolicy(Qt::NoFocus);
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this] { update(); });

    blink_ = new QTimer(this);
    connect(blink_, &QTimer::timeout, this, [this] {
        blinkOn_ = !blinkOn_;
        update();
    });

    QFont font(QStringLiteral("Terminal"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(10);
    }
    setTerminalFont(font);

    terminal_.OnUpdate = [this](bool resized) { terminalUpdated(resized); };
    updateScrollBar();
}

TVaTerminalScreen::~TVaTerminalScreen() { terminal_.OnUpdate = nullptr; }

void TVaTerminalScreen::setTerminalFont(const QFont& font) {
    setFont(font);
    const QFontMetrics metrics(font);
    cell_ = QSize(qMax(1, metrics.horizontalAdvance(QLatin1Char('W'))), qMax(1, metrics.height()));
    ascent_ = metrics.ascent();
    updateGeometry();
    update();
}

QSize TVaTerminalScreen::sizeHint() const {
    const int bar = terminal_.ScrollBack() ? scrollBar_->sizeHint().width() : 0;
    return QSize(terminal_.Columns() * cell_.width() + bar, terminal_.Rows() * cell_.height());
}

bool TVaTerminalScreen::caretShown() const {
    return hasFocus() && blinkOn_ && terminal_.CursorType() != serial::crsNone;
}

void TVaTerminalScreen::terminalUpdated(bool resized) {
    if (resized) {
        updateGeometry();
        updateScrollBar();
    }
    // New text brings the view back to the screen, where the caret is.
    scrollBar_->setValue(scrollBar_->maximum());
    restartBlink();
    update();
}

void TVaTerminalScreen::updateScrollBar() {
    const int kept = terminal_.Buffer().Lines() - terminal_.Rows();
    scrollBar_->setVisible(terminal_.ScrollBack());
    scrollBar_->setRange(0, kept);
    scrollBar_->setPageStep(terminal_.Rows());
    scrollBar_->setSingleStep(1);
    scrollBar_->setValue(kept);
    const int w = scrollBar_->sizeHint().width();
    scrollBar_->setGeometry(width() - w, 0, w, height());
}

void TVaTerminalScreen::restartBlink() {
    blinkOn_ = true;
    if (hasFocus() && terminal_.CursorType() != serial::crsNone)
        blink_->start(terminal_.BlinkTime());
    else
        blink_->stop();
}

void TVaTerminalScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = scrollBar_->sizeHint().width();
    scrollBar_->setGeometry(width() - w, 0, w, height());
}

void TVaTerminalScreen::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const serial::TVaTerminal& t = terminal_;
    const QColor screen = toQColor(t.Color());
    painter.fillRect(rect(), screen);
    painter.setFont(font());

    const serial::TVaTerminalBuffer& store = t.Buffer();
    const int top = scrollBar_->value(); // store line (0 = oldest) shown on the first row
    const int cw = cell_.width();
    const int ch = cell_.height();
    for (int row = 0; row < t.Rows(); ++row) {
        const int up = store.Lines() - 1 - (top + row);
        if (up < 0)
            break;
        const serial::TVaTerminalCell* cells = store.Line(up);
        // Cells are drawn one by one on the grid, so a font whose advance is not a whole pixel keeps columns.
        for (int c = 0; c < t.Columns(); ++c) {
            const QRect area(c * cw, row * ch, cw, ch);
            if (cells[c].Back != t.Color())
                painter.fillRect(area, toQColor(cells[c].Back));
            const QChar g = glyph(cells[c].Ch);
            if (g != QLatin1Char(' ')) {
                painter.setPen(toQColor(cells[c].Fore));
                painter.drawText(QPoint(area.x(), area.y() + ascent_), QString(g));
            }
        }
    }

    if (!caretShown())
        return;
    const int caretRow = t.Rows() - 1 - t.CaretLine() + (store.Lines() - t.Rows() - top);
    if (caretRow < 0 || caretRow >= t.Rows())
        return;
    const QRect cellRect(t.CaretColumn() * cw, caretRow * ch, cw, ch);
    const serial::TVaTerminalCell& under = store.Cell(t.CaretLine(), t.CaretColumn());
    if (t.CursorType() == serial::crsBlock) {
        painter.fillRect(cellRect, toQColor(under.Fore));
        painter.setPen(toQColor(under.Back));
        painter.drawText(QPoint(cellRect.x(), cellRect.y() + ascent_), QString(glyph(under.Ch)));
    } else {
        painter.fillRect(QRect(cellRect.x(), cellRect.bottom() - 1, cw, 2), toQColor(under.Fore));
    }
}

template <class F> void TVaTerminalScreen::guarded(F&& call) {
    try {
        call();
    } catch (...) {
        serial::MainThreadHost().HandleException(std::current_exception());
    }
}

bool TVaTerminalScreen::event(QEvent* event) {
    // Tab and Backtab normally move the focus; the control takes them only when it wants all keys.
    if (event->type() == QEvent::KeyPress && terminal_.WantAllKeys()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

void TVaTerminalScreen::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    guarded([&] { terminal_.KeyDown(key); });

    // The control's own key handling: Escape closes the dialog, navigation keys stay with the window unless
    // the control wants all keys.
    if (key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    std::string bytes;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        bytes = "\r";
        break;
    case Qt::Key_Backspace:
        bytes = "\b";
        break;
    case Qt::Key_Tab:
        bytes = "\t";
        break;
    default: {
        const QString text = event->text();
        if (!text.isEmpty()) {
            if (std::optional<std::string> encoded = cp1251::fromUtf8(text.toStdString()))
                bytes = *encoded;
        }
    }
    }
    if (bytes.empty()) {
        if (!terminal_.WantAllKeys())
            event->ignore();
        return;
    }
    for (char c : bytes)
        guarded([&] { terminal_.KeyPress(c); });
    event->accept();
}

void TVaTerminalScreen::keyReleaseEvent(QKeyEvent* event) {
    const int key = event->key();
    guarded([&] { terminal_.KeyUp(key); });
    QWidget::keyReleaseEvent(event);
}

void TVaTerminalScreen::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void TVaTerminalScreen::wheelEvent(QWheelEvent* event) {
    if (terminal_.ScrollBack())
        QCoreApplication::sendEvent(scrollBar_, event);
}

void TVaTerminalScreen::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    restartBlink();
    update();
}

void TVaTerminalScreen::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    blink_->stop();
    update();
}

} // namespace zirezid
