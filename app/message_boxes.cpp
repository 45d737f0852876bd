#include "app/message_boxes.h"

#include "app/command_line.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kErrorCaption = QStringLiteral("Ошибка");
const QString kWarningCaption = QStringLiteral("Предупреждение");
const QString kAbort = QStringLiteral("Остановить");
const QString kRetry = QStringLiteral("Повторить");
const QString kIgnore = QStringLiteral("Пропустить");
const QString kCancel = QStringLiteral("Отмена");
const QString kYes = QStringLiteral("Да");
const QString kNo = QStringLiteral("Нет");
const QString kYesToAll = QStringLiteral("Да - для всех");
const QString kNoToAll = QStringLiteral("Нет - для всех");
const QString kOk = QStringLiteral("OK");
const QString kAboutCaption = QStringLiteral("О программе");
const QString kProgramName = QStringLiteral("ZIRezid");
const QString kVersion = QStringLiteral("Версия %1");

// A red octagon with a white bar: the stop picture of the boxes, drawn here so no image file is needed.
QPixmap stopPicture() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF octagon;
    const double a = 9.5, b = 31.0 - 9.5;
    octagon << QPointF(a, 1) << QPointF(b, 1) << QPointF(31, a) << QPointF(31, b) << QPointF(b, 31) << QPointF(a, 31)
            << QPointF(1, b) << QPointF(1, a);
    p.setBrush(QColor(200, 20, 20));
    p.setPen(QPen(Qt::darkRed, 1));
    p.drawPolygon(octagon);
    p.fillRect(QRectF(7, 13, 18, 6), Qt::white);
    return pm;
}
} // namespace

MessageBoxBase::MessageBoxBase(QWidget* parent, const QString& caption) : QDialog(parent) {
    setWindowTitle(caption);
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    auto* img = new QLabel(this);
    img->setObjectName(QStringLiteral("imgStop"));
    img->setPixmap(stopPicture());
    img->setAlignment(Qt::AlignTop);
    lbl_Text = new QLabel(this);
    lbl_Text->setObjectName(QStringLiteral("lbl_Text"));
    lbl_Text->setWordWrap(true);
    lbl_Text->setAlignment(Qt::AlignCenter);
    lbl_Text->setMinimumWidth(300);
    body->addWidget(img);
    body->addWidget(lbl_Text, 1);
    top->addLayout(body);
    buttonRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(buttonRow_);
    row->setContentsMargins(0, 0, 0, 0);
    top->addWidget(buttonRow_, 0, Qt::AlignHCenter);
}

QPushButton* MessageBoxBase::addButton(const QString& caption, int result, const char* name) {
    auto* button = new QPushButton(caption, buttonRow_);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(true);
    static_cast<QHBoxLayout*>(buttonRow_->layout())->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    return button;
}

int MessageBoxBase::showWith(const QString& text, QPushButton* focus) {
    lbl_Text->setText(text);
    adjustSize();
    raise();
    focus->setDefault(true);
    focus->setFocus();
    // exec() resets the focus to the first auto-default button when it shows; set it again once shown.
    QMetaObject::invokeMethod(focus, qOverload<>(&QWidget::setFocus), Qt::QueuedConnection);
    const int result = exec();
    focus->setDefault(false);
    return result;
}

void MessageBoxBase::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (escapeResult != mrNone)
            done(escapeResult);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MessageBoxBase::reject() { done(mrCancel); }

Tfrm_msg_err_ari::Tfrm_msg_err_ari(QWidget* parent) : MessageBoxBase(parent, kErrorCaption) {
    setObjectName(QStringLiteral("frm_msg_err_ari"));
    btn_Abort = addButton(kAbort, mrAbort, "btn_Abort");
    btn_Retry = addButton(kRetry, mrRetry, "btn_Retry");
    btn_Ignore = addButton(kIgnore, mrIgnore, "btn_Ignore");
    btn_Cancel = addButton(kCancel, mrCancel, "btn_Cancel");
}

int Tfrm_msg_err_ari::askAbortRetryIgnore(const QString& text) {
    btn_Ignore->setVisible(true);
    btn_Ignore->setEnabled(true);
    btn_Cancel->setVisible(false);
    btn_Cancel->setEnabled(false);
    return showWith(text, btn_Abort);
}

int Tfrm_msg_err_ari::askAbortRetry(const QString& text) {
    btn_Ignore->setVisible(true);
    btn_Ignore->setEnabled(false);
    btn_Cancel->setVisible(false);
    btn_Cancel->setEnabled(false);
    return showWith(text, btn_Abort);
}

Tfrm_msg_warn_query::Tfrm_msg_warn_query(QWidget* parent) : MessageBoxBase(parent, kWarningCaption) {
    setObjectName(QStringLiteral("frm_msg_warn_query"));
    escapeResult = mrNo;
    btn_Yes = addButton(kYes, mrYes, "btn_Yes");
    btn_Cancel = addButton(kCancel, mrCancel, "btn_Cancel");
    btn_No = addButton(kNo, mrNo, "btn_No");
}

int Tfrm_msg_warn_query::askYesNoCancel(const QString& text) { return showWith(text, btn_No); }

Tfrm_msg_warn_query_all::Tfrm_msg_warn_query_all(QWidget* parent) : MessageBoxBase(parent, kWarningCaption) {
    setObjectName(QStringLiteral("frm_msg_warn_query_all"));
    escapeResult = mrNo;
    btn_Yes = addButton(kYes, mrYes, "btn_Yes");
    btn_No = addButton(kNo, mrNo, "btn_No");
    btn_YesToAll = addButton(kYesToAll, mrYesToAll, "btn_YesToAll");
    btn_NoToAll = addButton(kNoToAll, mrNoToAll, "btn_NoToAll");
    btn_Cancel = addButton(kCancel, mrCancel, "btn_Cancel");
}

int Tfrm_msg_warn_query_all::askYesNoAll(const QString& text) { return showWith(text, btn_No); }

Tfrm_editbox::Tfrm_editbox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_editbox"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    lb_00 = new QLabel(this);
    lb_00->setObjectName(QStringLiteral("lb_00"));
    me_01 = new QLineEdit(this);
    me_01->setObjectName(QStringLiteral("me_01"));
    top->addWidget(lb_00);
    top->addWidget(me_01);
    auto* row = new QHBoxLayout;
    row->addStretch();
    btn_Ok = new QPushButton(kOk, this);
    btn_Ok->setObjectName(QStringLiteral("btn_Ok"));
    btn_Ok->setDefault(true);
    btn_Cancel = new QPushButton(kCancel, this);
    btn_Cancel->setObjectName(QStringLiteral("btn_Cancel"));
    row->addWidget(btn_Ok);
    row->addWidget(btn_Cancel);
    top->addLayout(row);
    connect(btn_Ok, &QPushButton::clicked, this, [this] {
        me_01->setText(me_01->text().trimmed());
        done(mrOk);
    });
    connect(btn_Cancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
    resize(300, sizeHint().height());
}

void Tfrm_editbox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    me_01->setFocus();
}

bool Tfrm_editbox::ask(const QString& caption, const QString& label, QString& text) {
    setWindowTitle(caption);
    lb_00->setText(label);
    me_01->setText(text);
    if (exec() != mrOk)
        return false;
    text = me_01->text();
    return true;
}

Tfrm_about::Tfrm_about(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_about"));
    setWindowTitle(kAboutCaption);
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* name = new QLabel(kProgramName, this);
    QFont big = name->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(kVersion.arg(QString::fromLatin1(programVersion())), this);
    version->setAlignment(Qt::AlignCenter);
    top->addWidget(name);
    top->addWidget(version);
    btn_Ok = new QPushButton(kOk, this);
    btn_Ok->setObjectName(QStringLiteral("btn_Ok"));
    btn_Ok->setDefault(true);
    top->addWidget(btn_Ok, 0, Qt::AlignCenter);
    connect(btn_Ok, &QPushButton::clicked, this, &QDialog::accept);
    resize(260, sizeHint().height());
}

void showMessage(QWidget* parent, const QString& text, bool error) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon, QApplication::applicationName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace zirezid
