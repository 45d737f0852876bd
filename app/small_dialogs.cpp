#include "app/small_dialogs.h"

#include "app/startup.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kPortCaption = QStringLiteral("Настройка");
const QString kPortGroup = QStringLiteral("COM-порт");
const QString kOk = QStringLiteral("OK");
const QString kCancel = QStringLiteral("Отменить");
const QString kTypeCaption = QStringLiteral("Выберите тип устройства");
const QString kTypeLabel = QStringLiteral("Доступные типы устройств:");
constexpr int kPortCount = 9;

QHBoxLayout* okCancelRow(QWidget* owner, QPushButton*& ok, QPushButton*& cancel) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    ok = new QPushButton(kOk, owner);
    ok->setObjectName(QStringLiteral("btn_Ok"));
    ok->setDefault(true);
    cancel = new QPushButton(kCancel, owner);
    cancel->setObjectName(QStringLiteral("btn_Cancel"));
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, owner, [owner] { static_cast<QDialog*>(owner)->accept(); });
    QObject::connect(cancel, &QPushButton::clicked, owner, [owner] { static_cast<QDialog*>(owner)->reject(); });
    return row;
}
} // namespace

Tfrm_ComPort::Tfrm_ComPort(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_ComPort"));
    setWindowTitle(kPortCaption);
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* group = new QGroupBox(kPortGroup, this);
    auto* inner = new QVBoxLayout(group);
    cb_PortNum = new QComboBox(group);
    cb_PortNum->setObjectName(QStringLiteral("cb_PortNum"));
    auto* model = new QStandardItemModel(kPortCount, 2, cb_PortNum);
    for (int n = 1; n <= kPortCount; ++n)
        model->setItem(n - 1, 0, new QStandardItem(QStringLiteral("COM%1").arg(n)));
    cb_PortNum->setModel(model);
    cb_PortNum->setModelColumn(0);
    auto* view = new QTableView(cb_PortNum);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setShowGrid(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setMinimumWidth(260);
    cb_PortNum->setView(view);
    inner->addWidget(cb_PortNum);
    top->addWidget(group);
    top->addLayout(okCancelRow(this, btn_Ok, btn_Cancel));
}

void Tfrm_ComPort::refreshDevices() {
    auto* model = static_cast<QStandardItemModel*>(cb_PortNum->model());
    for (int n = 1; n <= kPortCount; ++n) {
        const QString device = resolveComDevice(n);
        auto* item = new QStandardItem(device);
        item->setForeground(Qt::darkGray);
        model->setItem(n - 1, 1, item);
        model->item(n - 1, 0)->setToolTip(device);
    }
    if (auto* view = qobject_cast<QTableView*>(cb_PortNum->view()))
        view->resizeColumnToContents(0);
}

bool Tfrm_ComPort::choose(int& current) {
    refreshDevices();
    cb_PortNum->setCurrentIndex(qBound(1, current, kPortCount) - 1);
    if (exec() != QDialog::Accepted)
        return false;
    current = cb_PortNum->currentIndex() + 1;
    return true;
}

Tfrm_new::Tfrm_new(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_new"));
    setWindowTitle(kTypeCaption);
    setModal(true);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(kTypeLabel, this));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    top->addWidget(ListBox1);
    top->addLayout(okCancelRow(this, btn_Ok, btn_Cancel));
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    resize(260, 220);
}

int Tfrm_new::choose(const QStringList& names, int current) {
    ListBox1->clear();
    ListBox1->addItems(names);
    if (current >= 0 && current < names.size())
        ListBox1->setCurrentRow(current);
    if (exec() != QDialog::Accepted)
        return -1;
    return ListBox1->currentRow();
}

} // namespace zirezid
