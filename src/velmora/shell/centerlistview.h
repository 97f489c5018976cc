// One center list on screen: a tree view over a list model and a selection
// model that the window-free rules own. It only reports what the operator
// does (clicks, double-clicks, header clicks, the pop-up, Enter and Delete,
// drops from its partner list) and shows a placeholder text when it is empty.
#pragma once

#include <QElapsedTimer>
#include <QTreeView>

namespace VelmoraInternal {

class CenterListView : public QTreeView
{
    Q_OBJECT
    Q_PROPERTY(QString placeholderText READ placeholderText WRITE setPlaceholderText)

public:
    explicit CenterListView(QWidget *parent = nullptr);

    // Several selected rows allowed (extended selection) or one.
    void setMultiSelect(bool on);

    // The header keeps a selection of its own, which stays empty: the
    // header's painting asks of every row whether the selection covers
    // its column, which a selection of 32,767 rows makes slow.
    void setSelectionModel(QItemSelectionModel *selectionModel) override;

    // 265 x 185 pixels, the room a list has in the control's 583 x 348
    // starting size; layouts give it more when there is room.
    QSize sizeHint() const override { return {265, 185}; }

    // Type-ahead: the next row from the current one whose ID or name starts
    // with what was typed.
    void keyboardSearch(const QString &search) override;

    // The one list whose centers may be dropped here: the other list of the
    // same control. Drags from anywhere else are refused as they enter.
    void setDropPartner(const CenterListView *partner) { m_partner = partner; }

    // Shown in the empty list, for example why a load failed.
    void setPlaceholderText(const QString &text);
    QString placeholderText() const { return m_placeholder; }

Q_SIGNALS:
    // A mouse button was released in the viewport (not the release that ends
    // a double-click), or the keyboard changed the selection.
    void listClicked();
    void listDoubleClicked();
    // The header of a column was clicked (its logical index), or Ctrl+1
    // (ID) or Ctrl+2 (Name) pressed.
    void headerClicked(int column);
    // The right button was released, or the Menu key or Shift+F10 pressed;
    // globalPos is where a pop-up belongs.
    void popupRequested(const QPoint &globalPos);
    // Enter or Return, and Delete.
    void activateKeyPressed();
    void deleteKeyPressed();
    // Centers dragged in from the drop partner.
    void centersDropped();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool acceptsDrop(QDropEvent *event) const;

    const CenterListView *m_partner = nullptr;
    QItemSelectionModel *m_headerSelection = nullptr;
    QString m_placeholder;
    QString m_typed;
    QElapsedTimer m_sinceTyped;
    bool m_releaseEndsDoubleClick = false;
};

} // namespace VelmoraInternal
