#include "layout.h"

#include <array>
#include <cstring>

namespace VelmoraInternal::Layout {

namespace {

constexpr std::array<DesignRect, 21> Design{{
    {"fraMain", 0, -90, 8745, 5310},
    {"cmdCommit", 6945, 3675, 1680, 375},
    {"cmdRemoveAll", 4065, 1710, 615, 375},
    {"cmdAddAll", 4065, 1335, 615, 375},
    {"cmdAdd", 4065, 960, 615, 375},
    {"cmdDelete", 4065, 2085, 615, 375},
    {"fraFind", 120, 3120, 4575, 2055},
    {"Frame1", 135, 915, 2490, 825},
    {"optList1", 120, 555, 1575, 195},
    {"optList0", 120, 225, 2040, 255},
    {"cmdFind", 2865, 1200, 975, 375},
    {"optFind1", 135, 240, 735, 255},
    {"txtVendorID", 915, 255, 1095, 285},
    {"optFind0", 135, 600, 765, 255},
    {"txtVendorName", 915, 615, 3330, 285},
    {"lblVersionNumber", 150, 1770, 2175, 255},
    {"prbLoad", 4785, 4395, 3870, 255},
    {"lstCenters", 105, 360, 3975, 2775},
    {"lstSelectedCenters", 4665, 360, 3975, 2775},
    {"lblAllVendors", 150, 150, 3105, 255},
    {"lblSelVendors", 4710, 150, 2175, 255},
}};

} // namespace

int pixels(int twips)
{
    const int half = TwipsPerPixel / 2;
    return twips >= 0 ? (twips + half) / TwipsPerPixel : -((-twips + half) / TwipsPerPixel);
}

DesignRect designRect(const QString &name)
{
    const QByteArray latin = name.toLatin1();
    for (const DesignRect &rect : Design) {
        if (std::strcmp(rect.name, latin.constData()) == 0)
            return rect;
    }
    return {"", 0, 0, 0, 0};
}

Anchoring anchoring(const QString &name)
{
    if (name == QLatin1String("fraMain"))
        return {0, 2, false, true};
    if (name == QLatin1String("lstCenters"))
        return {0, 1, false, true};
    if (name == QLatin1String("lstSelectedCenters"))
        return {1, 1, false, true};
    if (name.startsWith(QLatin1String("cmd")) && name != QLatin1String("cmdCommit") && name != QLatin1String("cmdFind"))
        return {1, 0, false, false};
    if (name == QLatin1String("lblSelVendors"))
        return {1, 0, false, false};
    if (name == QLatin1String("cmdCommit") || name == QLatin1String("prbLoad"))
        return {2, 0, true, false};
    if (name == QLatin1String("fraFind"))
        return {0, 0, true, false};
    return {};
}

QSize designSize()
{
    return {pixels(DesignSizeTwips.width()), pixels(DesignSizeTwips.height())};
}

QRect geometryFor(const QString &name, const QSize &controlSize)
{
    const DesignRect rect = designRect(name);
    QRect geometry(pixels(rect.left), pixels(rect.top), pixels(rect.width), pixels(rect.height));
    const Anchoring anchor = anchoring(name);
    const QSize design = designSize();
    const int extraW = std::max(0, controlSize.width() - design.width());
    const int extraH = std::max(0, controlSize.height() - design.height());
    // Half of the extra width goes to each list; whatever rounding leaves over
    // goes to the right-hand one.
    const int half = extraW / 2;
    auto share = [&](int halves) { return halves == 0 ? 0 : halves == 1 ? half : extraW; };
    geometry.translate(share(anchor.moveX), anchor.moveY ? extraH : 0);
    geometry.setWidth(geometry.width() + (name == QLatin1String("lstSelectedCenters") ? extraW - half : share(anchor.growW)));
    geometry.setHeight(geometry.height() + (anchor.growH ? extraH : 0));
    return geometry;
}

} // namespace VelmoraInternal::Layout
