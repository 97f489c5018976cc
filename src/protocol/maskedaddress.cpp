#include "protocol/maskedaddress.h"

#include <QRegularExpression>

namespace VelmoraProtocol {

QString maskedAddress(const QString &address)
{
    // The user information ends at the last '@' before the path, so that a
    // password typed with a raw '@' is hidden whole.
    static const QRegularExpression userInfo(
        QStringLiteral(R"(([A-Za-z][A-Za-z0-9+.\-]*://[^/?#\s:@]*:)[^/?#\s]+@)"));
    // A query item ("?password=", "&access_token=") or a keyword of a
    // PostgreSQL connection string (" password="). Names are bounded so that
    // a long text without '=' costs no more than a short one.
    static const QRegularExpression item(
        QStringLiteral(R"((^|[?&;\s])([^=&#;\s]{0,64}(?:pass|pwd|secret|token)[^=&#;\s]{0,64}=)[^&#\s]+)"),
        QRegularExpression::CaseInsensitiveOption);
    QString masked = address;
    masked.replace(userInfo, QStringLiteral("\\1***@"));
    return masked.replace(item, QStringLiteral("\\1\\2***"));
}

} // namespace VelmoraProtocol
