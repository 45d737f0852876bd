// Takes a picture of the main window with each editor shown, and of the dial-string dialog, into the folder
// given as the argument (docs/ of the tree). Run under Xvfb: xvfb-run -a
// build/tests/editors/editor_screenshots docs
#include "app/main_window.h"
#include "editors/frm_spec.h"
#include "editors/ted_menu.h"
#include "editors/ted_timetable.h"
#include "model/tables.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace zirezid;

namespace {
void settle() {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
}

bool set(KT_TABLE* object, const char* key, const char* text) {
    KT_RECORD* r = object != nullptr ? object->findChild(key) : nullptr;
    return r != nullptr && r->setText(text);
}

void shoot(QWidget* widget, const QString& file) {
    settle();
    if (!widget->grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIRezid"));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    QTemporaryDir scratch;
    qputenv("TEMP", scratch.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toLocal8Bit());

    Tfrm_main window;
    window.resize(1100, 720);
    window.show();
    settle();
    window.resize(1180, 720);
    settle();
    SettingsDatabase& db = window.db;

    // Some values, so the pictures show more than defaults.
    KT_TABLE* menu = db.findObject("MENU(1)");
    set(menu, "Desc", "Главное");
    set(menu, "CallSLPOnStart", "1");
    set(menu, "SLPIndex", "1");
    set(menu, "ActionTO", "02002001");
    set(menu, "ActionDTMF[1]", "0102");
    set(menu, "ActionDTMF[2]", "0301");
    set(menu, "ActionDTMF[9]", "04");
    const QString folder = QString::fromStdString(db.messagesFolder) + QStringLiteral("50101/");
    QDir().mkpath(folder);
    QProcess::execute(QStringLiteral("sox"),
                      {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-b"),
                       QStringLiteral("16"), folder + QStringLiteral("hello.wav"), QStringLiteral("synth"),
                       QStringLiteral("0.5"), QStringLiteral("sine"), QStringLiteral("440")});
    set(menu, "Message", "hello.wav");
    set(db.findObject("MENU(2)"), "Desc", "Ночное");
    set(db.findObject("TRK(1)"), "NightMenu", "2");
    set(db.findObject("SLP(2)"), "Passthrough", "1");
    KT_TABLE* timetable = db.findObject("TIMETABLE");
    set(timetable, "DayStart[1]", "0830");
    set(timetable, "DayEnd[1]", "1800");
    set(timetable, "UseHoliday[0]", "1");
    set(timetable, "HolidayStart[0]", "2902");
    set(timetable, "HolidayEnd[0]", "0103");

    auto* ed_menu = static_cast<Ted_menu*>(window.frames.ed_menu.get());
    window.selectObjectNode(*menu);
    ed_menu->pages->setCurrentIndex(0);
    shoot(&window, out + QStringLiteral("/editor-menu.png"));
    ed_menu->pages->setCurrentIndex(1);
    shoot(&window, out + QStringLiteral("/editor-menu-actions.png"));

    window.selectObjectNode(*db.findObject("TRK(1)"));
    shoot(&window, out + QStringLiteral("/editor-trk.png"));
    window.selectObjectNode(*db.findObject("SLP(2)"));
    shoot(&window, out + QStringLiteral("/editor-slp.png"));

    auto* ed_tt = static_cast<Ted_timetable*>(window.frames.ed_timetable.get());
    window.selectObjectNode(*timetable);
    ed_tt->pages->setCurrentIndex(0);
    shoot(&window, out + QStringLiteral("/editor-timetable.png"));
    ed_tt->pages->setCurrentIndex(1);
    shoot(&window, out + QStringLiteral("/editor-timetable-holidays.png"));

    // The dial-string dialog on a digit string with every group of specials.
    KT_TABLE_OBJECT holder;
    KT_RECORD* dial =
        holder.addField(std::make_unique<KT_CODE>("-", 1, 20, true, true, true, true, true), "Dial", "01", "Номер");
    dial->value->editor = window.frames.frm_spec.get();
    QLineEdit field;
    field.setText(QStringLiteral("12*9412*7*91305"));
    Tfrm_spec* spec = window.frames.frm_spec.get();
    QTimer::singleShot(200, spec, [&] {
        spec->grd_src->selectRow(9);
        shoot(spec, out + QStringLiteral("/editor-dialstring.png"));
        QTimer::singleShot(100, spec->frm_spec1, [&] {
            shoot(spec->frm_spec1, out + QStringLiteral("/editor-dialstring-number.png"));
            spec->frm_spec1->reject();
        });
        spec->bt_AddClick();
        spec->reject();
    });
    dial->value->showEditor(nullptr, &field);

    window.shellState = Tfrm_main::stSaved;
    return 0;
}
