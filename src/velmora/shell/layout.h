// The control's fixed design: every child's place in twips (1/1440 inch),
// relative to its container, at 15 twips per pixel. When the host gives the
// control more room than the design, the two lists share the extra width and
// take the extra height; everything else keeps its place beside or below them.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

namespace VelmoraInternal::Layout {

inline constexpr int TwipsPerPixel = 15;

struct DesignRect
{
    const char *name;
    int left;
    int top;
    int width;
    int height;
};

// How a child follows extra room: horizontal share of the extra width in
// halves (0, 1 or 2 for none, half, all) for its position and its width, and
// whether it moves down with or grows with the extra height.
struct Anchoring
{
    int moveX = 0;
    int growW = 0;
    bool moveY = false;
    bool growH = false;
};

inline constexpr QSize DesignSizeTwips{8745, 5220};

// The design rectangle of the named child in twips; an empty rect for an
// unknown name.
DesignRect designRect(const QString &name);
Anchoring anchoring(const QString &name);

QSize designSize();
// Pixel geometry of the named child for a control of the given size.
QRect geometryFor(const QString &name, const QSize &controlSize);
// Pixels from twips, rounded to the nearest pixel.
int pixels(int twips);

} // namespace VelmoraInternal::Layout
