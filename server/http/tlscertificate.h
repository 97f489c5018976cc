// A TLS certificate and its private key made on the spot, in PEM: what the
// demo serves HTTPS with when no site certificate is at hand, and what a
// small private CA issues for a test.
#pragma once

#include <QByteArray>
#include <QString>

namespace VelmoraServerCore {

struct TlsCertificate
{
    QByteArray certificatePem;
    QByteArray keyPem;

    bool isNull() const { return certificatePem.isEmpty(); }

    // A new P-256 key and a certificate named name, valid from an hour ago
    // for a year. A name that is an IP address or a DNS name is also the
    // certificate's subject alternative name, so that a client accepts it
    // for that host. Signed by issuer; without one the certificate signs
    // itself and may sign others (a CA). Null when OpenSSL fails.
    static TlsCertificate generate(const QString &name, const TlsCertificate *issuer = nullptr);

    // Writes the certificate and the key (readable by the owner only) to
    // the two files; false with a reason naming the file otherwise.
    bool save(const QString &certificateFile, const QString &keyFile, QString *error) const;
};

} // namespace VelmoraServerCore
