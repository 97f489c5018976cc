// How a row of a center list is painted: as the style paints an item, in
// italics when its center has a pending change or another operator changed
// it, with the texts laid out once and kept in a bounded cache. A move
// repaints every visible row of both lists; laying their texts out afresh
// each time would cost more than the move itself.
#pragma once

#include <QCache>
#include <QFont>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace VelmoraInternal {

class CenterDelegate : public QStyledItemDelegate
{
public:
    // How many laid-out texts are kept: the visible cells of both lists
    // many times over.
    static constexpr int MaxCachedTexts = 2048;

    explicit CenterDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // A row's height is the style's for one line in the font, found once
    // per font: the list lays out every row after each move and asks for
    // it each time. The width is the text's and its margins.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    struct TextKey
    {
        QString text;
        int width;
        bool italic;
        qint64 fontKey;
        friend bool operator==(const TextKey &, const TextKey &) = default;
        friend size_t qHash(const TextKey &key, size_t seed = 0) noexcept
        {
            return qHashMulti(seed, key.text, key.width, key.italic, key.fontKey);
        }
    };
    static void paintFocus(QPainter *painter, const QStyleOptionViewItem &item, QStyle *style);
    const QStaticText &laidOut(const QString &text, const QFont &font, int width, Qt::TextElideMode mode) const;

    mutable QCache<TextKey, QStaticText> m_texts;
    // The font the cached texts and the row height were found for.
    void useFont(const QFont &font) const;
    mutable QFont m_font;
    mutable qint64 m_fontKey = 0;
    mutable int m_rowHeight = -1;
};

} // namespace VelmoraInternal
