// The call-flow windows of the main window: the flow picture, the week view, the check list run before every
// write and the trial call. The work itself is the Qt-free flow module; these only show it.
#pragma once

#include "flow/answering_menu.h"
#include "flow/call_flow.h"
#include "flow/flow_picture.h"
#include "flow/prewrite_check.h"
#include "flow/trial_call.h"

#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QAudioOutput;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QListWidget;
class QMediaPlayer;
class QMenu;
class QPushButton;
class QScrollArea;
class QSvgRenderer;
class QTemporaryDir;
class QTreeWidget;
class QTreeWidgetItem;

namespace zirezid {

class Tfrm_main;

// The call flow of the open database, with the unit's free memory when a device information was read.
flow::CallFlow currentCallFlow(Tfrm_main& w);
// The same with the level of every recording measured, for the checks (it decodes them all).
flow::CallFlow checkedCallFlow(Tfrm_main& w);

// Where "Отчёт…" writes; tests put their own choice here (empty: the save dialog asks).
extern std::function<QString()> reportPathChooser;

// Adds the "Вид" menu (flow picture, week view, check, trial call) and "Отчёт…" to the File menu.
void installFlowCommands(Tfrm_main& w, QMenu* fileMenu);

// Runs the check before a write of the named objects. True when the write may go ahead: no error or warning
// about what this write sends, or the technician chose to write (errors need "Записать всё равно").
bool preWriteCheckAllows(Tfrm_main& w, const std::vector<std::string>& objectsWritten);
// The findings that concern a write of those objects: those about the objects themselves. Whether the messages
// fit is the write's own question (Tfrm_main::confirmMessagesFit), never asked twice.
std::vector<flow::Finding> findingsForWrite(const std::vector<flow::Finding>& all,
                                            const std::vector<std::string>& objectsWritten);

// Opens the object's editor in the main window and puts the focus on the field's control.
void showObjectField(Tfrm_main& w, const std::string& object, const std::string& key);

// The flow picture as a zoomable SVG; a click on a menu's box reports the menu.
class FlowCanvas : public QWidget {
    Q_OBJECT
public:
    explicit FlowCanvas(QWidget* parent = nullptr);
    ~FlowCanvas() override;
    void setSvg(const QByteArray& svg);
    void setZoom(double zoom);
    double zoom() const { return zoom_; }
    // Where the menu's box is drawn, in widget coordinates (empty when the picture has none).
    QRectF menuRect(int menu) const;
    QSize sizeHint() const override;
signals:
    void menuClicked(int menu);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    std::unique_ptr<QSvgRenderer> renderer_;
    double zoom_ = 1.0;
    QList<int> menus_;
};

// "Схема вызова": the picture with zoom buttons; a click on a menu selects it in the tree.
class Tfrm_flow : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_flow(Tfrm_main& w);
    void refresh();
    FlowCanvas* canvas;
    QLabel* lbl_Message;
    QScrollArea* scroll;

private:
    Tfrm_main& main_;
};

// The week per trunk line: seven days by 24 hours coloured day or night, the holidays beside.
class WeekGrid : public QWidget {
public:
    explicit WeekGrid(QWidget* parent = nullptr) : QWidget(parent) {}
    void setFlow(const flow::CallFlow& f);
    QSize sizeHint() const override;
    // The period of an hour's cell for a weekday (1..7) and hour (0..23): the part of the hour that is day.
    static double dayShare(const flow::Timetable& t, int weekday, int hour);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    flow::CallFlow flow_;
};

class Tfrm_week : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_week(Tfrm_main& w);
    void refresh();
    WeekGrid* grid;
    QListWidget* lst_Holidays;

private:
    Tfrm_main& main_;
};

// The check's findings; before a write it asks whether to write.
class Tfrm_check : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_check(Tfrm_main& w);
    // Fills the list; `beforeWrite` shows the write buttons ("Записать всё равно" when there are errors).
    void setFindings(const std::vector<flow::Finding>& findings, bool beforeWrite);
    QTreeWidget* lv_Findings;
    QLabel* lbl_Summary;
    QLabel* lbl_Detail; // the whole text of the selected finding
    QPushButton* bt_Write;
    QPushButton* bt_Cancel;

private:
    void openFinding(QTreeWidgetItem* item);
    Tfrm_main& main_;
    std::vector<flow::Finding> findings_;
};

// "Пробный звонок": a line and a time, the answering menu's message as the caller hears it, a keypad whose
// digits follow the actions, the path in the picture and the end in words.
class Tfrm_trial : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_trial(Tfrm_main& w);
    ~Tfrm_trial() override;
    void refresh();
    void startCall();
    void pressEvent(int event);
    void noAnswer();

    QComboBox* cb_Line;
    QDateTimeEdit* de_At;
    QPushButton* bt_Call;
    QPushButton* bt_NoAnswer;
    QPushButton* keys[12]; // 1..9, T, 0 (index 10 = T, 11 = 0 in keypad order: 1 2 3 / 4 5 6 / 7 8 9 / T 0)
    QListWidget* lst_Steps;
    QLabel* lbl_End;
    FlowCanvas* canvas;
    // The caller's sound of the current menu (after the unit's coding there and back), or empty.
    QString callerSoundPath;
    QString callerSoundError;

private:
    void showCall();
    void playCurrentMenu();
    Tfrm_main& main_;
    flow::CallFlow flow_;
    std::unique_ptr<flow::TrialCall> call_;
    std::unique_ptr<QTemporaryDir> scratch_;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
};

} // namespace zirezid
