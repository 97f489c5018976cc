#include "core/maskedaddress.h"

#include <QRegularExpression>

namespace VelmoraInternal {

QString maskedAddress(const QString &address)
{
    // The user information ends at the last '@' before the path, so that a
    // password typed with a raw '@' is hidden whole.
    static const QRegularExpression userInfo(
        QStringLiteral(R"(([A-Za-z][A-Za-z0-9+.\-]*://[^/?#\s:@]*:)[^/?#\s]+@)"));
    // A query item ("?password=", "&password=") or a keyword of a
    // PostgreSQL connection string (" password=").
    static const QRegularExpression item(QStringLiteral(R"((^|[?&;\s])(password=)[^&#\s]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    QString masked = address;
    masked.replace(userInfo, QStringLiteral("\\1***@"));
    return masked.replace(item, QStringLiteral("\\1\\2***"));
}

} // namespace VelmoraInternal
