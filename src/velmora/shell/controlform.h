// The control's children and their arrangement, as a form: the objectNames
// hosts find them by, the captions, the tab order and the sizes of the
// control's 583 x 348 pixel layout at 8 points. The views show the models and
// selections of the rules they are given; the show*() members put on the
// children what the rules and the controller decided. Behaviour belongs to
// whoever connects them.
#pragma once

#include <QMessageBox>

#include <functional>
#include <optional>

class QAction;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace VelmoraInternal {

class CenterListView;
class CrossReference;
struct ReloadReport;

class ControlForm
{
public:
    // Builds the children inside control.
    void setupUi(QWidget *control, CrossReference &rules);
    // The sizes of the 8-point layout, grown for a larger font or a higher
    // DPI so that no caption is clipped.
    void fitToFont(const QFont &font);

    // The rules' state: what is enabled and checked, the find boxes' texts
    // and look, captions, the lists' selection modes and sort indicators,
    // and the progress range unless busy.
    void showState(const CrossReference &rules, bool busy);
    // The busy pointer, and the progress bar, which shows only while busy.
    void showBusy(bool busy, int progressMaximum);
    // Under Commit to Database, whole in its tool tip.
    void showNotice(const QString &text);
    // What a reload found, in one line without a box.
    void showReloadReport(const ReloadReport &report);
    // What Find, Enter in a find box, F3 or Shift+F3 found: "Not found"
    // after a search that missed.
    void showFound(std::optional<int> hit);
    // In both lists while they are empty, for example why a load failed.
    void showPlaceholder(const QString &text);
    // A box modal to the control's window but without a nested event loop:
    // closed runs once the operator has closed it.
    void showMessage(const QString &text, QMessageBox::Icon icon, const QString &title = QString(),
                     const QString &informativeText = QString(), const std::function<void()> &closed = {});

    QWidget *body = nullptr;         // "fraMain": every child but the pop-up
    QGroupBox *findPanel = nullptr;  // "fraFind"
    QGroupBox *listChoice = nullptr; // "Frame1": the list Find looks in
    QLineEdit *findBox[2] = {nullptr, nullptr}; // by FindMode: txtVendorName, txtVendorID
    QRadioButton *findOption[2] = {nullptr, nullptr};
    QRadioButton *listOption[2] = {nullptr, nullptr};
    QPushButton *findButton = nullptr;
    QLabel *versionLabel = nullptr;
    QPushButton *removeButton = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *addAllButton = nullptr;
    QPushButton *removeAllButton = nullptr;
    QPushButton *commitButton = nullptr;
    QProgressBar *progress = nullptr;
    // "notice": what a reload found changed by others, or why one failed.
    QLabel *notice = nullptr;
    CenterListView *lists[2] = {nullptr, nullptr}; // by Side
    QLabel *captions[2] = {nullptr, nullptr};
    QMenu *removeMenu = nullptr;
    QAction *removeAction = nullptr;

private:
    void makeButtons();
    void makeFindPanel();
    void makeProgress();
    void makeListsAndNotice();
    void showModels(CrossReference &rules);
    void makePopupAndOptionGroups();
    void layOutBody();
    void layOutFindPanel();
    void setTabOrder();
    // An idle bar at zero, counting up to maximum.
    void resetProgress(int maximum);

    QWidget *m_control = nullptr;
};

} // namespace VelmoraInternal
