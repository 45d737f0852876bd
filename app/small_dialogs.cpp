#include "app/small_dialogs.h"

#include "app/port_survey_panel.h"
#include "app/startup.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace zirezid {

namespace {
const QString kPortCaption = QStringLiteral("Настройка");
const QString kPortGroup = QStringLiteral("COM-порт");
const QString kOk = QStringLiteral("OK");
const QString kCancel = QStringLiteral("Отменить");
const QString kNoDevice = QStringLiteral("нет такого устройства");
const QString kNotAPort = QStringLiteral("не последовательный порт");
const QString kPlainFile = QStringLiteral("обычный файл");
const QString kFolder = QStringLiteral("папка");
const QString kOtherDevice = QStringLiteral("устройство другого рода");
// Character devices of the terminal kind: pseudo-terminal slaves (the simulated unit) have no sysfs entry.
constexpr unsigned kPtsMajorFirst = 136;
constexpr unsigned kPtsMajorLast = 143;
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
    auto* model = new QStandardItemModel(kPortCount, 3, cb_PortNum);
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
    lbl_PortState = new QLabel(group);
    lbl_PortState->setObjectName(QStringLiteral("lbl_PortState"));
    QPalette warning = lbl_PortState->palette();
    warning.setColor(QPalette::WindowText, QColor(160, 0, 0));
    lbl_PortState->setPalette(warning);
    inner->addWidget(lbl_PortState);
    top->addWidget(group);
    pnl_Survey = new PortSurveyPanel(this);
    top->addWidget(pnl_Survey);
    top->addLayout(okCancelRow(this, btn_Ok, btn_Cancel));
    connect(cb_PortNum, &QComboBox::currentIndexChanged, this, &Tfrm_ComPort::showPortState);
    connect(pnl_Survey->btn_Check, &QPushButton::clicked, this, [this] {
        pnl_Survey->diagnose(deviceFor(cb_PortNum->currentIndex() + 1), true);
        adjustSize();
    });
    connect(pnl_Survey->btn_Assign, &QPushButton::clicked, this, [this] {
        const QString device = pnl_Survey->selectedDevice();
        if (device.isEmpty() || cb_PortNum->currentIndex() < 0)
            return;
        // Remembered by its by-id name where it has one, so the choice follows the adapter when it is renumbered.
        assigned_[cb_PortNum->currentIndex() + 1] = device;
        refreshDevices();
        showPortState();
    });
}

QString Tfrm_ComPort::deviceFor(int n) const { return assigned_.value(n, resolveComDevice(n)); }

QString Tfrm_ComPort::deviceProblem(const QString& device) {
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return kNoDevice;
    if (S_ISDIR(st.st_mode))
        return kNotAPort + QStringLiteral(" (") + kFolder + QStringLiteral(")");
    if (!S_ISCHR(st.st_mode))
        return kNotAPort + QStringLiteral(" (") + kPlainFile + QStringLiteral(")");
    const unsigned major = ::major(st.st_rdev);
    if (major >= kPtsMajorFirst && major <= kPtsMajorLast)
        return QString();
    // Asked of sysfs, not by opening the device: opening a real port would pulse its modem lines.
    const QString subsystem =
        QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(::minor(st.st_rdev))).symLinkTarget();
    if (QFileInfo(subsystem).fileName() == QLatin1String("tty"))
        return QString();
    return kNotAPort + QStringLiteral(" (") + kOtherDevice + QStringLiteral(")");
}

void Tfrm_ComPort::showPortState() {
    const int row = cb_PortNum->currentIndex();
    const QString problem = row >= 0 && row < problems_.size() ? problems_.at(row) : QString();
    lbl_PortState->setText(problem.isEmpty() ? QString() : deviceFor(row + 1) + QStringLiteral(": ") + problem);
    lbl_PortState->setVisible(!problem.isEmpty());
    if (row >= 0)
        pnl_Survey->diagnose(deviceFor(row + 1), false);
    adjustSize(); // the line is read whole, however long the path
}

void Tfrm_ComPort::refreshDevices() {
    auto* model = static_cast<QStandardItemModel*>(cb_PortNum->model());
    problems_.clear();
    for (int n = 1; n <= kPortCount; ++n) {
        const QString device = deviceFor(n);
        const QString problem = deviceProblem(device);
        problems_ << problem;
        auto* item = new QStandardItem(device);
        item->setForeground(Qt::darkGray);
        model->setItem(n - 1, 1, item);
        auto* state = new QStandardItem(problem);
        state->setForeground(QColor(160, 0, 0));
        model->setItem(n - 1, 2, state);
        model->item(n - 1, 0)->setToolTip(problem.isEmpty() ? device : device + QStringLiteral(": ") + problem);
    }
    if (auto* view = qobject_cast<QTableView*>(cb_PortNum->view())) {
        view->resizeColumnToContents(0);
        view->resizeColumnToContents(1);
    }
    pnl_Survey->refresh([this](int n) { return deviceFor(n); });
}

bool Tfrm_ComPort::choose(int& current) {
    assigned_.clear();
    refreshDevices();
    cb_PortNum->setCurrentIndex(qBound(1, current, kPortCount) - 1);
    showPortState();
    if (exec() != QDialog::Accepted)
        return false;
    current = cb_PortNum->currentIndex() + 1;
    for (auto it = assigned_.cbegin(); it != assigned_.cend(); ++it)
        Preferences::writePortOverride(it.key(), it.value());
    assigned_.clear();
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
