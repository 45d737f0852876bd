// Before any Qt header: Qt's "emit" keyword macro would break the resampler's member of that name.
#include "link/sound_conversion.h"

#include "app/flow_windows.h"

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/read_dialog.h"
#include "app/report/site_report.h"
#include "audio/loudness.h"
#include "editors/editor_base.h"
#include "flow/message_probe.h"
#include "link/device_link.h"
#include "model/tables.h"

#include <QApplication>
#include <QAudioOutput>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMediaPlayer>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace zirezid {
namespace {

const QString kMenuView = QStringLiteral("&Вид");
const QString kFlowCaption = QStringLiteral("Схема вызова");
const QString kWeekCaption = QStringLiteral("Расписание по неделям");
const QString kCheckCaption = QStringLiteral("Проверка настроек");
const QString kTrialCaption = QStringLiteral("Пробный звонок");
const QString kReportCaption = QStringLiteral("Отчёт…");
const QString kWriteAnyway = QStringLiteral("Записать всё равно");
const QString kWrite = QStringLiteral("Записать");
const QString kCancel = QStringLiteral("Отмена");
const QString kClose = QStringLiteral("Закрыть");
const char* const kDayShort[7] = {"Пн", "Вт", "Ср", "Чт", "Пт", "Сб", "Вс"};
const QColor kDayColour(0xf7, 0xd7, 0x74);
const QColor kNightColour(0x2f, 0x3e, 0x5c);

QString q(const std::string& s) { return QString::fromStdString(s); }

QColor gradeColour(flow::Grade g) {
    switch (g) {
    case flow::Grade::Error:
        return QColor(0xf6, 0xc4, 0xc4);
    case flow::Grade::Warning:
        return QColor(0xfd, 0xe3, 0xa7);
    case flow::Grade::Note:
        return QColor(0xdb, 0xe8, 0xfb);
    }
    return Qt::white;
}

// Dialogs are made once per main window and found again by their object name.
template <class T> T* windowOf(Tfrm_main& w, const char* name) {
    if (auto* d = w.findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly))
        return d;
    auto* d = new T(w);
    d->setObjectName(QString::fromLatin1(name));
    return d;
}

QString chooseReportPath(Tfrm_main& w) {
    if (reportPathChooser)
        return reportPathChooser();
    QString base = QString::fromStdString(w.db.basePath);
    base = base.isEmpty() ? QStringLiteral("site.pdf") : QFileInfo(base).completeBaseName() + QStringLiteral(".pdf");
    return QFileDialog::getSaveFileName(&w, QStringLiteral("Отчёт для заказчика"), base,
                                        QStringLiteral("Документ PDF (*.pdf)"));
}

} // namespace

std::function<QString()> reportPathChooser;

flow::CallFlow currentCallFlow(Tfrm_main& w) {
    std::optional<unsigned long long> freeBytes;
    if (w.db.deviceInfo)
        if (KT_RECORD* r = w.db.deviceInfo->findChild("FreeSpaceBytes")) {
            const unsigned long long n = std::strtoull(r->getText().c_str(), nullptr, 10);
            if (n > 0) // 0 is the default: no device information was read
                freeBytes = n;
        }
    flow::CallFlow f = flow::readCallFlow(w.db, freeBytes);
    // What the connected unit holds, for what a write's replaced recordings free.
    if (const devlink::DeviceLink* link = w.frm_read != nullptr ? w.frm_read->link() : nullptr)
        for (flow::Menu& m : f.menus)
            if (const auto held = link->unitRecordings.find(m.objectName); held != link->unitRecordings.end())
                m.message.onUnitBytes = held->second;
    return f;
}

flow::CallFlow checkedCallFlow(Tfrm_main& w) {
    flow::CallFlow f = currentCallFlow(w);
    flow::measureLevels(f, audio::measureFileLoudness);
    return f;
}

void showObjectField(Tfrm_main& w, const std::string& objectName, const std::string& key) {
    KT_TABLE* object = w.db.findObject(objectName);
    if (object == nullptr || object->node == nullptr)
        return;
    w.selectObjectNode(*object);
    if (key.empty())
        return;
    // The settings file calls the mailbox password "Pwd"; the object lists it as "Password".
    KT_RECORD* record = object->findChild(key == "Pwd" ? std::string("Password") : key);
    if (record == nullptr)
        return;
    for (QWidget* control : w.pnl_editor->findChildren<QWidget*>()) {
        if (TKT_EDITOR::tag(control) != record)
            continue;
        // Bring the control's page forward in every tab widget above it.
        for (QWidget* page = control; page != nullptr && page != w.pnl_editor; page = page->parentWidget())
            if (auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget()))
                if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget()))
                    tabs->setCurrentWidget(page);
        if (!control->isEnabled() || control->focusPolicy() == Qt::NoFocus)
            continue;
        w.activateWindow();
        control->setFocus(Qt::OtherFocusReason);
        return;
    }
}

// ---------------------------------------------------------------------------------------------- the picture

FlowCanvas::FlowCanvas(QWidget* parent) : QWidget(parent), renderer_(std::make_unique<QSvgRenderer>()) {
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

FlowCanvas::~FlowCanvas() = default;

void FlowCanvas::setSvg(const QByteArray& svg) {
    renderer_->load(svg);
    menus_.clear();
    static const QRegularExpression ids(QStringLiteral("id=\"menu_(\\d+)\""));
    for (auto it = ids.globalMatch(QString::fromUtf8(svg)); it.hasNext();)
        menus_.append(it.next().captured(1).toInt());
    setZoom(zoom_);
}

void FlowCanvas::setZoom(double zoom) {
    zoom_ = std::clamp(zoom, 0.1, 5.0);
    resize(sizeHint());
    update();
}

QSize FlowCanvas::sizeHint() const {
    const QSizeF s = renderer_->isValid() ? renderer_->viewBoxF().size() : QSizeF(200, 100);
    return (s * zoom_).toSize();
}

QRectF FlowCanvas::menuRect(int menu) const {
    const QString id = q(flow::menuElementId(menu));
    if (!renderer_->isValid() || !renderer_->elementExists(id))
        return {};
    const QRectF r = renderer_->transformForElement(id).mapRect(renderer_->boundsOnElement(id));
    const QPointF origin = renderer_->viewBoxF().topLeft();
    return QRectF((r.topLeft() - origin) * zoom_, r.size() * zoom_);
}

void FlowCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (renderer_->isValid())
        renderer_->render(&p, QRectF(QPointF(0, 0), renderer_->viewBoxF().size() * zoom_));
}

void FlowCanvas::mousePressEvent(QMouseEvent* e) {
    for (int menu : menus_)
        if (menuRect(menu).contains(e->position())) {
            emit menuClicked(menu);
            return;
        }
    QWidget::mousePressEvent(e);
}

void FlowCanvas::wheelEvent(QWheelEvent* e) {
    if (e->modifiers() & Qt::ControlModifier) {
        setZoom(zoom_ * (e->angleDelta().y() > 0 ? 1.25 : 0.8));
        e->accept();
        return;
    }
    QWidget::wheelEvent(e);
}

Tfrm_flow::Tfrm_flow(Tfrm_main& w) : QDialog(&w), main_(w) {
    setWindowTitle(kFlowCaption);
    resize(900, 600);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    auto button = [&](const QString& text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        bar->addWidget(b);
        return b;
    };
    QPushButton* in = button(QStringLiteral("Крупнее"), "bt_ZoomIn");
    QPushButton* out = button(QStringLiteral("Мельче"), "bt_ZoomOut");
    QPushButton* fit = button(QStringLiteral("По размеру окна"), "bt_Fit");
    QPushButton* again = button(QStringLiteral("Обновить"), "bt_Refresh");
    bar->addStretch();
    auto* hint = new QLabel(QStringLiteral("Щелчок по меню выбирает его в дереве"), this);
    bar->addWidget(hint);
    layout->addLayout(bar);
    lbl_Message = new QLabel(this);
    lbl_Message->setObjectName(QStringLiteral("lbl_Message"));
    lbl_Message->setWordWrap(true);
    lbl_Message->hide();
    layout->addWidget(lbl_Message);
    scroll = new QScrollArea(this);
    canvas = new FlowCanvas;
    canvas->setObjectName(QStringLiteral("canvas"));
    scroll->setWidget(canvas);
    layout->addWidget(scroll, 1);
    connect(in, &QPushButton::clicked, this, [this] { canvas->setZoom(canvas->zoom() * 1.25); });
    connect(out, &QPushButton::clicked, this, [this] { canvas->setZoom(canvas->zoom() * 0.8); });
    connect(fit, &QPushButton::clicked, this, [this] {
        const QSizeF natural = QSizeF(canvas->sizeHint()) / canvas->zoom();
        const QSizeF room = scroll->viewport()->size();
        canvas->setZoom(std::min(room.width() / natural.width(), room.height() / natural.height()));
    });
    connect(again, &QPushButton::clicked, this, &Tfrm_flow::refresh);
    connect(canvas, &FlowCanvas::menuClicked, this, [this](int menu) {
        if (KT_TABLE* t = main_.db.findObject("MENU(" + std::to_string(menu) + ")"))
            main_.selectObjectNode(*t);
    });
}

void Tfrm_flow::refresh() {
    const flow::CallFlow f = currentCallFlow(main_);
    flow::PictureOptions o;
    o.findings = flow::checkCallFlow(f);
    const flow::Picture pic = flow::drawCallFlow(f, o, "svg");
    lbl_Message->setText(q(pic.message));
    lbl_Message->setVisible(!pic.laidOut);
    canvas->setSvg(QByteArray::fromStdString(pic.data));
}

// ---------------------------------------------------------------------------------------------- the week

double WeekGrid::dayShare(const flow::Timetable& t, int weekday, int hour) {
    const flow::WorkingDay& d = t.days[static_cast<std::size_t>(weekday - 1)];
    const int from = std::max(d.start, hour * 60), to = std::min(d.end + 1, hour * 60 + 60);
    return to > from ? (to - from) / 60.0 : 0.0;
}

void WeekGrid::setFlow(const flow::CallFlow& f) {
    flow_ = f;
    updateGeometry();
    resize(sizeHint());
    update();
}

namespace {
constexpr int kCell = 22, kRow = 18, kLeft = 34, kTitle = 22, kHead = 16, kGap = 14;
int existingLines(const flow::CallFlow& f) {
    return static_cast<int>(
        std::count_if(f.lines.begin(), f.lines.end(), [](const flow::Line& l) { return l.exists; }));
}
} // namespace

QSize WeekGrid::sizeHint() const {
    const int lines = std::max(1, existingLines(flow_));
    return QSize(kLeft + 24 * kCell + 8, lines * (kTitle + kHead + 7 * kRow + kGap));
}

void WeekGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    int y = 0;
    for (const flow::Line& l : flow_.lines) {
        if (!l.exists)
            continue;
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(palette().text().color());
        p.drawText(QRect(0, y, width(), kTitle), Qt::AlignVCenter,
                   QStringLiteral("Линия %1: день — меню %2, ночь — меню %3, праздник — меню %4")
                       .arg(l.number)
                       .arg(l.dayMenu)
                       .arg(l.nightMenu)
                       .arg(l.holidayMenu));
        p.setFont(font());
        y += kTitle;
        for (int h = 0; h < 24; h += 3)
            p.drawText(QRect(kLeft + h * kCell, y, 3 * kCell, kHead), Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')));
        y += kHead;
        for (int d = 1; d <= 7; ++d) {
            p.setPen(palette().text().color());
            p.drawText(QRect(0, y, kLeft - 4, kRow), Qt::AlignRight | Qt::AlignVCenter,
                       QString::fromUtf8(kDayShort[d - 1]));
            const flow::WorkingDay& wd = flow_.timetable.days[static_cast<std::size_t>(d - 1)];
            for (int h = 0; h < 24; ++h) {
                const QRect cell(kLeft + h * kCell, y, kCell, kRow);
                p.fillRect(cell, kNightColour);
                // The day's minutes of this hour, drawn to the minute.
                const int from = std::max(wd.start, h * 60), to = std::min(wd.end + 1, h * 60 + 60);
                if (to > from)
                    p.fillRect(QRectF(cell.left() + (from - h * 60) * kCell / 60.0, cell.top(),
                                      (to - from) * kCell / 60.0, kRow),
                               kDayColour);
                p.setPen(QColor(255, 255, 255, 90));
                p.drawRect(cell.adjusted(0, 0, -1, -1));
            }
            y += kRow;
        }
        y += kGap;
    }
}

Tfrm_week::Tfrm_week(Tfrm_main& w) : QDialog(&w), main_(w) {
    setWindowTitle(kWeekCaption);
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* legend = new QLabel(QStringLiteral("<span style='background:%1'>&nbsp;&nbsp;&nbsp;&nbsp;</span> день &nbsp; "
                                             "<span style='background:%2'>&nbsp;&nbsp;&nbsp;&nbsp;</span> ночь")
                                  .arg(kDayColour.name(), kNightColour.name()),
                              this);
    left->addWidget(legend);
    auto* scrollArea = new QScrollArea(this);
    grid = new WeekGrid;
    grid->setObjectName(QStringLiteral("grid"));
    scrollArea->setWidget(grid);
    scrollArea->setWidgetResizable(false);
    left->addWidget(scrollArea, 1);
    layout->addLayout(left, 3);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Праздники"), this));
    lst_Holidays = new QListWidget(this);
    lst_Holidays->setObjectName(QStringLiteral("lst_Holidays"));
    lst_Holidays->setWordWrap(true);
    right->addWidget(lst_Holidays, 1);
    layout->addLayout(right, 1);
    resize(900, 520);
}

void Tfrm_week::refresh() {
    const flow::CallFlow f = currentCallFlow(main_);
    grid->setFlow(f);
    lst_Holidays->clear();
    auto dm = [](int d, int m) {
        return QStringLiteral("%1.%2").arg(d, 2, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'));
    };
    for (const flow::Holiday& h : f.timetable.holidays) {
        if (!h.used)
            continue;
        QString text = QStringLiteral("Праздник[%1]: %2 – %3")
                           .arg(h.index)
                           .arg(dm(h.startDay, h.startMonth), dm(h.endDay, h.endMonth));
        if (h.endMonth * 100 + h.endDay < h.startMonth * 100 + h.startDay)
            text += QStringLiteral(" (через Новый год)");
        lst_Holidays->addItem(text);
    }
    if (lst_Holidays->count() == 0)
        lst_Holidays->addItem(QStringLiteral("Праздники не заданы"));
}

// ---------------------------------------------------------------------------------------------- the check

Tfrm_check::Tfrm_check(Tfrm_main& w) : QDialog(&w), main_(w) {
    setWindowTitle(kCheckCaption);
    resize(900, 420);
    auto* layout = new QVBoxLayout(this);
    lbl_Summary = new QLabel(this);
    lbl_Summary->setObjectName(QStringLiteral("lbl_Summary"));
    lbl_Summary->setWordWrap(true);
    layout->addWidget(lbl_Summary);
    lv_Findings = new QTreeWidget(this);
    lv_Findings->setObjectName(QStringLiteral("lv_Findings"));
    lv_Findings->setHeaderLabels({QStringLiteral("Уровень"), QStringLiteral("Объект"), QStringLiteral("Поле"),
                                  QStringLiteral("Что не так и что сделать")});
    lv_Findings->setRootIsDecorated(false);
    lv_Findings->setWordWrap(true);
    lv_Findings->header()->setStretchLastSection(true);
    lv_Findings->setColumnWidth(0, 120);
    lv_Findings->setColumnWidth(1, 150);
    lv_Findings->setColumnWidth(2, 170);
    layout->addWidget(lv_Findings, 1);
    lbl_Detail = new QLabel(this);
    lbl_Detail->setObjectName(QStringLiteral("lbl_Detail"));
    lbl_Detail->setWordWrap(true);
    lbl_Detail->setMinimumHeight(lbl_Detail->fontMetrics().lineSpacing() * 3);
    lbl_Detail->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(lbl_Detail);
    connect(lv_Findings, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { lbl_Detail->setText(item ? item->text(3) : QString()); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("Двойной щелчок открывает поле в редакторе"), this));
    buttons->addStretch();
    bt_Write = new QPushButton(kWrite, this);
    bt_Write->setObjectName(QStringLiteral("bt_Write"));
    bt_Cancel = new QPushButton(kCancel, this);
    bt_Cancel->setObjectName(QStringLiteral("bt_Cancel"));
    buttons->addWidget(bt_Write);
    buttons->addWidget(bt_Cancel);
    layout->addLayout(buttons);
    connect(bt_Write, &QPushButton::clicked, this, &QDialog::accept);
    connect(bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lv_Findings, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { openFinding(item); });
}

void Tfrm_check::setFindings(const std::vector<flow::Finding>& findings, bool beforeWrite) {
    findings_ = findings;
    lv_Findings->clear();
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const flow::Finding& f = findings[i];
        QString object = q(f.object);
        if (KT_TABLE* t = main_.db.findObject(f.object))
            object = q(t->getDescription());
        QString field = q(f.key);
        if (KT_TABLE* t = main_.db.findObject(f.object))
            if (KT_RECORD* r = t->findChild(f.key == "Pwd" ? std::string("Password") : f.key))
                field = q(r->description).trimmed();
        auto* item = new QTreeWidgetItem(lv_Findings, {q(flow::gradeName(f.grade)), object, field, q(f.text)});
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        item->setToolTip(3, q(f.text));
        for (int c = 0; c < 4; ++c)
            item->setBackground(c, gradeColour(f.grade));
    }
    if (lv_Findings->topLevelItemCount() > 0)
        lv_Findings->setCurrentItem(lv_Findings->topLevelItem(0));
    else
        lbl_Detail->clear();
    const bool errors = flow::hasErrors(findings);
    lbl_Summary->setText(QStringLiteral("Ошибок: %1, предупреждений: %2, замечаний: %3.%4")
                             .arg(flow::countGrade(findings, flow::Grade::Error))
                             .arg(flow::countGrade(findings, flow::Grade::Warning))
                             .arg(flow::countGrade(findings, flow::Grade::Note))
                             .arg(beforeWrite
                                      ? (errors ? QStringLiteral(" С ошибками устройство будет работать не так, "
                                                                 "как задумано: исправьте их перед записью.")
                                                : QStringLiteral(" Записать настройки в устройство?"))
                                      : QString()));
    bt_Write->setVisible(beforeWrite);
    bt_Write->setText(errors ? kWriteAnyway : kWrite);
    bt_Cancel->setText(beforeWrite ? kCancel : kClose);
    (errors ? bt_Cancel : bt_Write)->setDefault(true);
}

void Tfrm_check::openFinding(QTreeWidgetItem* item) {
    const int i = item->data(0, Qt::UserRole).toInt();
    if (i < 0 || i >= static_cast<int>(findings_.size()))
        return;
    const flow::Finding f = findings_[static_cast<std::size_t>(i)];
    reject(); // the write waits until the technician has mended the field
    showObjectField(main_, f.object, f.key);
}

std::vector<flow::Finding> findingsForWrite(const std::vector<flow::Finding>& all,
                                            const std::vector<std::string>& objectsWritten) {
    // The unit's memory is left to the write's own question, which counts only the messages this write sends
    // (confirmMessagesFit, asked just before): listed here too it would ask the technician a second time.
    std::vector<flow::Finding> out;
    for (const auto& f : all)
        if (std::find(objectsWritten.begin(), objectsWritten.end(), f.object) != objectsWritten.end())
            out.push_back(f);
    return out;
}

bool preWriteCheckAllows(Tfrm_main& w, const std::vector<std::string>& objectsWritten) {
    // What this write does not send is already in the unit as it is: only its own findings stop it.
    const auto findings = findingsForWrite(flow::checkCallFlow(checkedCallFlow(w)), objectsWritten);
    if (flow::countGrade(findings, flow::Grade::Error) + flow::countGrade(findings, flow::Grade::Warning) == 0)
        return true;
    auto* dialog = windowOf<Tfrm_check>(w, "frm_check");
    dialog->setFindings(findings, true);
    return dialog->exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------------------------- the trial
// call

Tfrm_trial::Tfrm_trial(Tfrm_main& w) : QDialog(&w), main_(w) {
    setWindowTitle(kTrialCaption);
    resize(1100, 640);
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* form = new QGridLayout;
    form->addWidget(new QLabel(QStringLiteral("Линия:"), this), 0, 0);
    cb_Line = new QComboBox(this);
    cb_Line->setObjectName(QStringLiteral("cb_Line"));
    form->addWidget(cb_Line, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("Дата и время:"), this), 1, 0);
    de_At = new QDateTimeEdit(QDateTime::currentDateTime(), this);
    de_At->setObjectName(QStringLiteral("de_At"));
    de_At->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
    de_At->setCalendarPopup(true);
    form->addWidget(de_At, 1, 1);
    left->addLayout(form);
    bt_Call = new QPushButton(QStringLiteral("Позвонить"), this);
    bt_Call->setObjectName(QStringLiteral("bt_Call"));
    left->addWidget(bt_Call);
    auto* pad = new QGridLayout;
    const char* const labels[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "Таймаут", "0", nullptr};
    for (int i = 0; i < 11; ++i) {
        keys[i] = new QPushButton(QString::fromUtf8(labels[i]), this);
        keys[i]->setObjectName(i == 9 ? QStringLiteral("key_T")
                                      : QStringLiteral("key_") + QString::fromUtf8(labels[i]));
        keys[i]->setMinimumHeight(40);
        keys[i]->setAutoDefault(false);
        pad->addWidget(keys[i], i / 3, i % 3);
        const int event = i == 9 ? flow::kTimeoutEvent : i == 10 ? flow::eventOfDigit(0) : flow::eventOfDigit(i + 1);
        connect(keys[i], &QPushButton::clicked, this, [this, event] { pressEvent(event); });
    }
    keys[11] = nullptr;
    left->addLayout(pad);
    bt_NoAnswer = new QPushButton(QStringLiteral("Оператор не ответил"), this);
    bt_NoAnswer->setObjectName(QStringLiteral("bt_NoAnswer"));
    bt_NoAnswer->setAutoDefault(false);
    left->addWidget(bt_NoAnswer);
    lbl_End = new QLabel(this);
    lbl_End->setObjectName(QStringLiteral("lbl_End"));
    lbl_End->setWordWrap(true);
    QFont big = lbl_End->font();
    big.setBold(true);
    lbl_End->setFont(big);
    left->addWidget(lbl_End);
    lst_Steps = new QListWidget(this);
    lst_Steps->setObjectName(QStringLiteral("lst_Steps"));
    lst_Steps->setWordWrap(true);
    left->addWidget(lst_Steps, 1);
    layout->addLayout(left, 2);
    auto* scrollArea = new QScrollArea(this);
    canvas = new FlowCanvas;
    canvas->setObjectName(QStringLiteral("canvas"));
    scrollArea->setWidget(canvas);
    layout->addWidget(scrollArea, 3);
    connect(bt_Call, &QPushButton::clicked, this, &Tfrm_trial::startCall);
    connect(bt_NoAnswer, &QPushButton::clicked, this, &Tfrm_trial::noAnswer);
    player_ = new QMediaPlayer(this);
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
    for (QPushButton* k : keys)
        if (k)
            k->setEnabled(false);
    bt_NoAnswer->setEnabled(false);
}

Tfrm_trial::~Tfrm_trial() = default;

void Tfrm_trial::refresh() {
    const int keep = cb_Line->currentIndex();
    cb_Line->clear();
    for (const flow::Line& l : currentCallFlow(main_).lines)
        if (l.exists)
            cb_Line->addItem(QStringLiteral("Линия %1").arg(l.number), l.number);
    cb_Line->setCurrentIndex(keep >= 0 && keep < cb_Line->count() ? keep : 0);
}

void Tfrm_trial::startCall() {
    flow_ = currentCallFlow(main_);
    const QDateTime at = de_At->dateTime();
    const flow::CallTime t{at.date().year(), at.date().month(), at.date().day(), at.time().hour(), at.time().minute()};
    call_ = std::make_unique<flow::TrialCall>(flow_, cb_Line->currentData().toInt(), t);
    call_->start();
    showCall();
    playCurrentMenu();
}

void Tfrm_trial::pressEvent(int event) {
    if (!call_ || call_->ended())
        return;
    const std::size_t before = call_->menusEntered().size();
    call_->press(event);
    showCall();
    if (call_->menusEntered().size() != before)
        playCurrentMenu();
}

void Tfrm_trial::noAnswer() {
    if (!call_)
        return;
    call_->operatorNoAnswer();
    showCall();
    playCurrentMenu();
}

void Tfrm_trial::showCall() {
    lst_Steps->clear();
    for (const auto& s : call_->steps())
        lst_Steps->addItem(q(s.text));
    lst_Steps->scrollToBottom();
    if (call_->ended())
        lbl_End->setText(q(call_->ending()));
    else
        lbl_End->setText(QStringLiteral("Звонящий в меню %1: нажмите цифру или «Таймаут»").arg(call_->currentMenu()));
    for (QPushButton* k : keys)
        if (k)
            k->setEnabled(!call_->ended());
    bt_NoAnswer->setEnabled(call_->end() == flow::CallEnd::Operator);
    flow::PictureOptions o;
    o.path = call_->path();
    o.pathMenus = call_->menusEntered();
    o.pathLine = cb_Line->currentData().toInt();
    canvas->setSvg(QByteArray::fromStdString(flow::drawCallFlow(flow_, o, "svg").data));
}

void Tfrm_trial::playCurrentMenu() {
    player_->stop();
    callerSoundPath.clear();
    callerSoundError.clear();
    const flow::Menu* m = call_ ? flow_.menu(call_->currentMenu()) : nullptr;
    if (m == nullptr || call_->ended() || !m->message.decodable)
        return;
    if (!scratch_)
        scratch_ = std::make_unique<QTemporaryDir>();
    // The caller hears the recording after the unit's 4-bit coding: convert there and back.
    const QString unitFile = scratch_->filePath(QStringLiteral("caller.ktm"));
    const QString heard = scratch_->filePath(QStringLiteral("caller-%1.wav").arg(m->number));
    std::string error;
    if (sound::convertSoundFile(m->message.path, unitFile.toStdString(), false, nullptr, &error) != sound::kSoundOk ||
        sound::convertSoundFile(unitFile.toStdString(), heard.toStdString(), true, nullptr, &error) !=
            sound::kSoundOk) {
        callerSoundError = q(error);
        lst_Steps->addItem(QStringLiteral("Сообщение не воспроизводится: ") + callerSoundError);
        return;
    }
    callerSoundPath = heard;
    player_->setSource(QUrl::fromLocalFile(heard));
    player_->play();
}

// ---------------------------------------------------------------------------------------------- the menu

void installFlowCommands(Tfrm_main& w, QMenu* fileMenu) {
    auto* view = new QMenu(kMenuView, &w);
    view->setObjectName(QStringLiteral("mn_View"));
    const QList<QAction*> menus = w.menuBar()->actions();
    w.menuBar()->insertMenu(menus.size() > 1 ? menus[1] : nullptr, view);
    auto add = [&](const QString& text, const char* name) {
        QAction* a = view->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    QObject::connect(add(kFlowCaption, "mn_FlowPicture"), &QAction::triggered, &w, [&w] {
        auto* d = windowOf<Tfrm_flow>(w, "frm_flow");
        d->refresh();
        d->show();
        d->raise();
    });
    QObject::connect(add(kWeekCaption, "mn_Week"), &QAction::triggered, &w, [&w] {
        auto* d = windowOf<Tfrm_week>(w, "frm_week");
        d->refresh();
        d->show();
        d->raise();
    });
    QObject::connect(add(kCheckCaption, "mn_Check"), &QAction::triggered, &w, [&w] {
        auto* d = windowOf<Tfrm_check>(w, "frm_check");
        d->setFindings(flow::checkCallFlow(checkedCallFlow(w)), false);
        d->show();
        d->raise();
    });
    QObject::connect(add(kTrialCaption, "mn_Trial"), &QAction::triggered, &w, [&w] {
        auto* d = windowOf<Tfrm_trial>(w, "frm_trial");
        d->refresh();
        d->show();
        d->raise();
    });

    auto* report = new QAction(kReportCaption, &w);
    report->setObjectName(QStringLiteral("mn_Report"));
    fileMenu->insertAction(w.mn_Recent ? w.mn_Recent->menuAction() : nullptr, report);
    QObject::connect(report, &QAction::triggered, &w, [&w] {
        const QString path = chooseReportPath(w);
        if (path.isEmpty())
            return;
        std::string error;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool ok = writeSiteReport(w.db, checkedCallFlow(w), path.toStdString(), error);
        QApplication::restoreOverrideCursor();
        if (!ok)
            showMessage(&w, QStringLiteral("Отчёт не записан: ") + q(error), true);
    });
}

} // namespace zirezid
