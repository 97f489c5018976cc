// The control's insides: its child widgets, the stored properties and the
// handlers, spread over the area folders (shell, loading, lists, find,
// saving) but all members of this one class.
#pragma once

#include <velmora/velmora.h>

#include "core/centerdocument.h"
#include "platform/centerlistview.h"
#include "platform/httptransfer.h"

#include <QPointer>

#include <memory>
#include <vector>

class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;

class Velmora::Private
{
public:
    explicit Private(Velmora *q);

    // shell
    void setupUi();
    void startUp();
    void applyLayout(const QSize &size);
    void fitCaption(QWidget *child, const QSize &controlSize);
    void fitCaptions(); // after the count captions change
    void setSearchBoxActive(QLineEdit *box, bool active);

    // loading
    void LoadCrossReference(qint32 employeeId, const QString &serverName);
    void ReadCenterCounts(const VelmoraInternal::CenterDocument &document);
    void FillNonSelectedCenters(const VelmoraInternal::CenterDocument &document);
    void FillSelectedCenters(const VelmoraInternal::CenterDocument &document);
    void fillList(VelmoraInternal::CenterListView *target, QRadioButton *option,
                  const std::vector<VelmoraInternal::CenterRecord> &records);
    void failLoad(const QString &reason);

    // lists
    enum class Move { Add, Delete, AddAll, RemoveAll };
    void RefreshListState(Move move);           // both steps
    void RefreshListCaptions();                 // step A
    void RefreshListButtons(Move move);         // step B
    void cmdAdd_Click();
    void cmdDelete_Click();
    void cmdAddAll_Click();
    void cmdRemoveAll_Click();
    void MoveOneCenter(bool toSelected);
    void MoveSelectedCenters(bool toSelected);
    void moveRows(bool toSelected, const std::vector<int> &rows, bool single);
    void listClick(bool selectedList);
    void listColumnClick(VelmoraInternal::CenterListView *list, int headerIndex);
    void lstSelectedCenters_MouseUp(Qt::MouseButton button);
    void mnuRemoveItems_Click();
    void connectLists();

    // find
    void optFind_Click(int index);
    void txtVendorName_Change();
    void txtVendorID_Change();
    void cmdFind_Click();
    void connectFind();

    // saving
    enum class SaveOutcome { NothingToSend, Saved, Failed, AlreadyRunning };
    SaveOutcome saveToDatabase();
    void cmdCommit_Click();
    void showServerAnswer(const VelmoraInternal::HttpResult &result);

    bool isBusy() const { return transfer && transfer->isBusy(); }

    Velmora *q;

    qint32 storedEmployeeId = 0;
    QString storedServerName;

    QGroupBox *fraMain = nullptr;
    QGroupBox *fraFind = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLineEdit *txtVendorName = nullptr;
    QLineEdit *txtVendorID = nullptr;
    QRadioButton *optFind[2] = {nullptr, nullptr};
    QRadioButton *optList[2] = {nullptr, nullptr};
    QButtonGroup *optFindGroup = nullptr;
    QButtonGroup *optListGroup = nullptr;
    QPushButton *cmdFind = nullptr;
    QLabel *lblVersionNumber = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdAddAll = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QPushButton *cmdCommit = nullptr;
    QProgressBar *prbLoad = nullptr;
    VelmoraInternal::CenterListView *lstCenters = nullptr;
    VelmoraInternal::CenterListView *lstSelectedCenters = nullptr;
    QLabel *lblAllVendors = nullptr;
    QLabel *lblSelVendors = nullptr;
    QMenu *mnuRemove = nullptr;
    QAction *mnuRemoveItems = nullptr;

    std::unique_ptr<VelmoraInternal::HttpTransfer> transfer;
    bool saving = false;
};
