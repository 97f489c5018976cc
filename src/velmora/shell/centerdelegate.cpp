#include "shell/centerdelegate.h"

#include "core/centerlistmodel.h"

#include <QApplication>
#include <QPainter>

namespace VelmoraInternal {

CenterDelegate::CenterDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_texts(MaxCachedTexts)
{
}

void CenterDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(CenterListModel::PendingRole).toBool() || index.data(CenterListModel::ChangedElsewhereRole).toBool())
        option->font.setItalic(true);
}

void CenterDelegate::useFont(const QFont &font) const
{
    // The italic font is the plain one with italics: one key for both.
    QFont plain = font;
    plain.setItalic(false);
    if (plain != m_font) {
        m_font = plain;
        ++m_fontKey;
        m_rowHeight = -1;
    }
}

QSize CenterDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    useFont(item.font);
    if (m_rowHeight < 0) {
        QStyleOptionViewItem oneLine = item;
        oneLine.text = QStringLiteral("0");
        oneLine.font.setItalic(false);
        m_rowHeight = QStyledItemDelegate::sizeHint(oneLine, QModelIndex()).height();
    }
    const QStyle *style = item.widget ? item.widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
    return {QFontMetrics(item.font).horizontalAdvance(item.text) + 2 * margin, m_rowHeight};
}

const QStaticText &CenterDelegate::laidOut(const QString &text, const QFont &font, int width, Qt::TextElideMode mode) const
{
    useFont(font);
    const TextKey key{text, width, font.italic(), m_fontKey};
    if (QStaticText *cached = m_texts.object(key))
        return *cached;
    auto *shown = new QStaticText(QFontMetrics(font).elidedText(text, mode, width));
    shown->setTextFormat(Qt::PlainText);
    shown->setPerformanceHint(QStaticText::AggressiveCaching);
    shown->prepare(QTransform(), font);
    m_texts.insert(key, shown);
    return *shown;
}

void CenterDelegate::paintFocus(QPainter *painter, const QStyleOptionViewItem &item, QStyle *style)
{
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(item);
    focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
    const QPalette::ColorGroup group = item.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    focus.backgroundColor = item.palette.color(group, item.state & QStyle::State_Selected ? QPalette::Highlight : QPalette::Window);
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, item.widget);
}

void CenterDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget *widget = item.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The style paints the background and the selection, and the focus as
    // it paints an item's (its other parts, check box and icon, these rows
    // have none); the text comes from the cache, placed where the style
    // places it.
    const QString text = std::exchange(item.text, QString());
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
    if (item.state & QStyle::State_HasFocus)
        paintFocus(painter, item, style);
    if (text.isEmpty())
        return;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect room = item.rect.adjusted(margin, 0, -margin, 0);
    if (room.width() <= 0)
        return;
    const QStaticText &shown = laidOut(text, item.font, room.width(), item.textElideMode);
    const QSizeF size = shown.size();
    const Qt::Alignment alignment = QStyle::visualAlignment(item.direction, item.displayAlignment);
    const qreal x = alignment & Qt::AlignRight ? room.right() + 1 - size.width()
        : alignment & Qt::AlignHCenter        ? room.left() + (room.width() - size.width()) / 2
                                              : room.left();
    const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
        : item.state & QStyle::State_Active                                  ? QPalette::Normal
                                                                             : QPalette::Inactive;
    painter->save();
    painter->setFont(item.font);
    painter->setPen(item.palette.color(group, item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawStaticText(QPointF(x, room.top() + (room.height() - size.height()) / 2), shown);
    painter->restore();
}

} // namespace VelmoraInternal
