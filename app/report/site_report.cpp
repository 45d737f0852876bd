#include "app/report/site_report.h"

#include "flow/answering_menu.h"
#include "flow/flow_picture.h"
#include "flow/prewrite_check.h"
#include "model/actions.h"
#include "model/atomic_file.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

#ifndef ZIREZID_VERSION
#error "the build gives the site report the program's version (cmake/packaging.cmake)"
#endif

namespace zirezid {
namespace {

// The customer's copy says which program made it: a later question about a setting starts with the version.
const QString kProgram = QStringLiteral("ZIRezid " ZIREZID_VERSION);

QString esc(const std::string& s) { return QString::fromStdString(s).toHtmlEscaped(); }

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    std::string t = buf;
    for (char& ch : t)
        if (ch == '.')
            ch = ',';
    return t;
}

// What a field shows in the report. Passwords stay out of a paper the customer keeps: the setup password lets
// anyone who dials in reconfigure the unit.
QString fieldValue(KT_RECORD& r) {
    if (r.key == "Password" || r.key == "Pwd")
        return QStringLiteral("(скрыт)");
    if (auto* a = kt_cast<KT_ACTION>(r.value.get())) {
        QString text = QString::fromStdString(a->description);
        if (a->param)
            text += QStringLiteral(": ") + QString::fromStdString(a->getParamCaption());
        return text.toHtmlEscaped();
    }
    return esc(r.getEditText());
}

void objectSection(KT_TABLE& table, QString& html) {
    if (!table.isVisible)
        return;
    bool hasFields = false;
    for (auto& [name, record] : table.children)
        if (!record->table())
            hasFields = true;
    // Menus nobody touched take fifty pages; they are summed up in the menus' table instead.
    if (hasFields && table.className() == std::string("KT_TABLE_MENU")) {
        KT_RECORD* desc = table.findChild("Desc");
        KT_RECORD* msg = table.findChild("Message");
        bool touched = (desc && !desc->getEditText().empty()) || (msg && msg->getText() != "-");
        for (auto& [name, record] : table.children)
            if (auto* a = kt_cast<KT_ACTION>(record->value.get()))
                touched = touched || a->name != kActionNone;
        if (!touched)
            return;
    }
    if (hasFields) {
        html += QStringLiteral("<h3>%1</h3><table border='1' cellspacing='0' cellpadding='2' width='100%'>")
                    .arg(esc(table.getDescription()));
        for (auto& [name, record] : table.children)
            if (!record->table())
                html += QStringLiteral("<tr><td width='60%'>%1</td><td>%2</td></tr>")
                            .arg(esc(record->description), fieldValue(*record));
        html += QStringLiteral("</table>");
    }
    for (auto& [name, record] : table.children)
        if (KT_TABLE* sub = record->table())
            objectSection(*sub, html);
}

QImage flowImage(const flow::CallFlow& f, const std::vector<flow::Finding>& findings, QString& note) {
    flow::PictureOptions o;
    o.findings = findings;
    const flow::Picture pic = flow::drawCallFlow(f, o, "svg");
    if (!pic.laidOut)
        note = QString::fromStdString(pic.message);
    QSvgRenderer renderer(QByteArray::fromStdString(pic.data));
    if (!renderer.isValid())
        return {};
    QSizeF size = renderer.viewBoxF().size();
    // Sharp on paper without a giant image (its compression is most of the report's time): at most 1600
    // pixels.
    const double scale = std::min(2.0, 1600.0 / std::max(size.width(), size.height()));
    QImage image((size * scale).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    renderer.render(&p);
    return image;
}

const char* const kDays[7] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресенье"};
const char* const kDaysShort[7] = {"Пн", "Вт", "Ср", "Чт", "Пт", "Сб", "Вс"};

} // namespace

std::string siteReportHtml(SettingsDatabase& db, const flow::CallFlow& f) {
    const auto findings = flow::checkCallFlow(f);
    QString html = QStringLiteral("<html><body style='font-family:DejaVu Sans; font-size:9pt'>");
    html += QStringLiteral("<h1>Отчёт о настройке устройства</h1>");
    html += QStringLiteral("<p>Файл настроек: %1<br>Составлен: %2, программа %3</p>")
                .arg(esc(db.basePath), QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                     kProgram.toHtmlEscaped());

    html += QStringLiteral("<h2>Тип устройства и данные о системе</h2><table border='1' cellspacing='0' "
                           "cellpadding='2' width='100%'>");
    html += QStringLiteral("<tr><td>Тип устройства</td><td>%1 (линий: %2, меню: %3, ящиков: %4)</td></tr>")
                .arg(esc(db.currentConfig.name))
                .arg(db.currentConfig.lines)
                .arg(db.currentConfig.menus)
                .arg(db.currentConfig.mailboxes);
    if (db.deviceInfo)
        for (auto& [name, record] : db.deviceInfo->children)
            if (!record->table())
                html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                            .arg(esc(record->description), fieldValue(*record));
    html += QStringLiteral("</table>");

    html += QStringLiteral("<h2>Расписание работы</h2><table border='1' cellspacing='0' cellpadding='1' "
                           "style='font-size:6pt'><tr><td></td>");
    for (int h = 0; h < 24; ++h)
        html += QStringLiteral("<td align='center'>%1</td>").arg(h);
    html += QStringLiteral("</tr>");
    QString hours;
    for (int d = 0; d < 7; ++d) {
        const flow::WorkingDay& wd = f.timetable.days[static_cast<std::size_t>(d)];
        html += QStringLiteral("<tr><td>%1</td>").arg(QString::fromUtf8(kDaysShort[d]));
        for (int h = 0; h < 24; ++h) {
            const int from = std::max(wd.start, h * 60), to = std::min(wd.end + 1, h * 60 + 60);
            const bool day = to - from >= 30;
            html += QStringLiteral("<td align='center' bgcolor='%1'>%2</td>")
                        .arg(day ? "#f7d774" : "#2f3e5c", day ? "Д" : "<font color='white'>Н</font>");
        }
        html += QStringLiteral("</tr>");
        hours += QStringLiteral("<li>%1: %2:%3 – %4:%5%6</li>")
                     .arg(QString::fromUtf8(kDays[d]))
                     .arg(wd.start / 60, 2, 10, QLatin1Char('0'))
                     .arg(wd.start % 60, 2, 10, QLatin1Char('0'))
                     .arg(wd.end / 60, 2, 10, QLatin1Char('0'))
                     .arg(wd.end % 60, 2, 10, QLatin1Char('0'))
                     .arg(wd.end < wd.start ? QStringLiteral(" (конец раньше начала: весь день ночь)") : QString());
    }
    html += QStringLiteral("</table><h3>Рабочие часы</h3><ul>") + hours;
    html += QStringLiteral("</ul><p>Д — дневное меню, Н — ночное меню.</p><h3>Праздники</h3><ul>");
    int holidays = 0;
    for (const flow::Holiday& h : f.timetable.holidays)
        if (h.used) {
            ++holidays;
            html += QStringLiteral("<li>Праздник[%1]: с %2.%3 по %4.%5</li>")
                        .arg(h.index)
                        .arg(h.startDay, 2, 10, QLatin1Char('0'))
                        .arg(h.startMonth, 2, 10, QLatin1Char('0'))
                        .arg(h.endDay, 2, 10, QLatin1Char('0'))
                        .arg(h.endMonth, 2, 10, QLatin1Char('0'));
        }
    if (holidays == 0)
        html += QStringLiteral("<li>Праздники не заданы</li>");
    html += QStringLiteral("</ul><h3>Линии</h3><ul>");
    for (const flow::Line& l : f.lines)
        if (l.exists)
            html += QStringLiteral("<li>Линия %1: днём меню %2, ночью меню %3, в праздник меню %4</li>")
                        .arg(l.number)
                        .arg(l.dayMenu)
                        .arg(l.nightMenu)
                        .arg(l.holidayMenu);
    html += QStringLiteral("</ul>");

    html += QStringLiteral("<h2>Схема вызова</h2>");
    html += QStringLiteral("<!--flow-->");

    html += QStringLiteral("<h2>Меню</h2><table border='1' cellspacing='0' cellpadding='2' width='100%'>"
                           "<tr><th>Меню</th><th>Описание</th><th>Файл сообщения</th><th>Длительность</th></tr>");
    for (int k : flow::pictureMenus(f)) {
        const flow::Menu& m = f.menus[static_cast<std::size_t>(k)];
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                    .arg(k)
                    .arg(esc(m.description), m.message.named() ? esc(m.message.fileName) : QStringLiteral("нет"),
                         m.message.decodable ? QString::fromStdString(secondsText(m.message.seconds) + " с")
                                             : esc(m.message.problem));
    }
    html += QStringLiteral("</table><p>Остальные меню не заполнены и ни одна линия к ним не ведёт.</p>");

    html += QStringLiteral("<h2>Результаты проверки</h2>");
    if (findings.empty())
        html += QStringLiteral("<p>Замечаний нет.</p>");
    else {
        html += QStringLiteral("<table border='1' cellspacing='0' cellpadding='2' width='100%'>"
                               "<tr><th>Уровень</th><th>Объект</th><th>Поле</th><th>Текст</th></tr>");
        for (const auto& fd : findings)
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                        .arg(esc(flow::gradeName(fd.grade)), esc(fd.object), esc(fd.key), esc(fd.text));
        html += QStringLiteral("</table>");
    }

    html += QStringLiteral("<h2>Все настройки</h2>");
    if (db.root)
        objectSection(*db.root, html);
    html += QStringLiteral("</body></html>");
    return html.toStdString();
}

bool writeSiteReport(SettingsDatabase& db, const flow::CallFlow& f, const std::string& pdfPath, std::string& error) {
    QString html = QString::fromStdString(siteReportHtml(db, f));
    QString note;
    const QImage picture = flowImage(f, flow::checkCallFlow(f), note);
    QTextDocument doc;
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setTitle(QStringLiteral("Отчёт о настройке устройства"));
        writer.setCreator(kProgram);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(300);
        // The picture takes the page's width, or less when it is small.
        const double pageWidthPt = writer.pageLayout().paintRect(QPageLayout::Point).width();
        QString img;
        if (!note.isEmpty())
            img += QStringLiteral("<p>%1</p>").arg(note.toHtmlEscaped());
        if (!picture.isNull()) {
            doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("flow.png")), picture);
            const double width = std::min(pageWidthPt * 0.98, picture.width() / 2.0);
            img += QStringLiteral("<p><img src='flow.png' width='%1'></p>").arg(static_cast<int>(width));
        }
        html.replace(QStringLiteral("<!--flow-->"), img);
        doc.setHtml(html);
        doc.setPageSize(writer.pageLayout().paintRect(QPageLayout::Point).size());
        doc.print(&writer);
    }
    if (pdf.isEmpty()) {
        error = "Qt не создал PDF";
        return false;
    }
    return atomic_file::writeAll(pdfPath, std::string_view(pdf.constData(), static_cast<std::size_t>(pdf.size())),
                                 &error);
}

} // namespace zirezid
