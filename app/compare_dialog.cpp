#include "app/compare_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kTitle = QStringLiteral("Сравнение баз настроек");
const QString kClose = QStringLiteral("Закрыть");
const QString kColumnField = QStringLiteral("Объект / поле");
const QString kColumnKey = QStringLiteral("Ключ");
const QString kEqual = QStringLiteral("Базы настроек %1 (%2) и %3 (%4) не различаются.");
const QString kDiffer = QStringLiteral("Базы настроек %1 (%2) и %3 (%4): различий в объектах: %5. "
                                       "Двойной щелчок выбирает объект в дереве.");
const QString kRecording = QStringLiteral("Записанное сообщение");
const QString kOnlyHere = QStringLiteral("объект есть только в одной из баз");

QString q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

Tfrm_compare::Tfrm_compare(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_compare"));
    setWindowTitle(kTitle);
    setModal(false);
    resize(760, 460);
    auto* layout = new QVBoxLayout(this);
    lbl_Summary = new QLabel(this);
    lbl_Summary->setObjectName(QStringLiteral("lbl_Summary"));
    lbl_Summary->setWordWrap(true);
    layout->addWidget(lbl_Summary);
    tv_Differences = new QTreeWidget(this);
    tv_Differences->setObjectName(QStringLiteral("tv_Differences"));
    tv_Differences->setColumnCount(4);
    tv_Differences->setRootIsDecorated(true);
    tv_Differences->setUniformRowHeights(true);
    tv_Differences->setAlternatingRowColors(true);
    tv_Differences->setExpandsOnDoubleClick(false); // a double-click selects the object in the main tree
    tv_Differences->header()->setSectionResizeMode(QHeaderView::Interactive);
    layout->addWidget(tv_Differences, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btn_Close = new QPushButton(kClose, this);
    btn_Close->setObjectName(QStringLiteral("btn_Close"));
    buttons->addWidget(btn_Close);
    layout->addLayout(buttons);
    connect(btn_Close, &QPushButton::clicked, this, &QDialog::close);
    connect(tv_Differences, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { itemDoubleClicked(item); });
}

void Tfrm_compare::showComparison(const compare::Comparison& comparison, const QString& nameA, const QString& nameB) {
    tv_Differences->clear();
    tv_Differences->setHeaderLabels({kColumnField, kColumnKey, nameA, nameB});
    const QString typeA = q(comparison.unitTypeA), typeB = q(comparison.unitTypeB);
    lbl_Summary->setText(comparison.equal() ? kEqual.arg(nameA, typeA, nameB, typeB)
                                            : kDiffer.arg(nameA, typeA, nameB, typeB).arg(comparison.objects.size()));
    for (const compare::ObjectDifference& d : comparison.objects) {
        const QString name = q(d.objectName);
        auto* group = new QTreeWidgetItem(tv_Differences);
        // The caption of the side that has the object; the open database's where both have it.
        const QString caption = q(d.presence == compare::Presence::OnlyB ? d.captionB : d.captionA);
        group->setText(0, caption.isEmpty() ? name : caption);
        group->setText(1, name);
        group->setData(0, kObjectNameRole, name);
        QFont bold = group->font(0);
        bold.setBold(true);
        group->setFont(0, bold);
        auto row = [&](const QString& description, const QString& key, const QString& a, const QString& b) {
            auto* item = new QTreeWidgetItem(group, {description, key, a, b});
            item->setData(0, kObjectNameRole, name);
            item->setToolTip(0, description);
            item->setToolTip(2, a);
            item->setToolTip(3, b);
        };
        if (d.presence != compare::Presence::Both) {
            const bool inA = d.presence == compare::Presence::OnlyA;
            row(kOnlyHere, QString(), inA ? q(d.captionA) : q(compare::kNoObject),
                inA ? q(compare::kNoObject) : q(d.captionB));
        }
        for (const compare::FieldDifference& f : d.fields)
            if (!(d.hasMessageDifference && f.key == "Message"))
                row(q(f.description), q(f.key), q(f.valueA), q(f.valueB));
        if (d.hasMessageDifference)
            row(kRecording, QStringLiteral("Message"), q(compare::describeMessage(d.message.a)),
                q(compare::describeMessage(d.message.b)));
        group->setExpanded(true);
    }
    // Narrow enough to stand beside the main window's tree; a long text is cut and shown whole in its tip.
    constexpr int kWidest = 240;
    for (int c = 0; c < 4; ++c) {
        tv_Differences->resizeColumnToContents(c);
        tv_Differences->setColumnWidth(c, qMin(tv_Differences->columnWidth(c), kWidest));
    }
}

void Tfrm_compare::itemDoubleClicked(QTreeWidgetItem* item) {
    if (item != nullptr && selectObject)
        selectObject(item->data(0, kObjectNameRole).toString());
}

} // namespace zirezid
