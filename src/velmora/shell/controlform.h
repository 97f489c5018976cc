// The control's children and their arrangement, as a form: the objectNames
// hosts find them by, the captions, the tab order and the sizes of the
// control's 583 x 348 pixel layout at 8 points. The views show the models and selections of the rules they are
// given. Behaviour belongs to whoever connects them.
#pragma once

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

class ControlForm
{
public:
    // Builds the children inside control.
    void setupUi(QWidget *control, CrossReference &rules);
    // The sizes of the 8-point layout, grown for a larger font or a higher
    // DPI so that no caption is clipped.
    void fitToFont(const QFont &font);

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
};

} // namespace VelmoraInternal
