#include "http/servertls.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace VelmoraServerCore {

namespace {

// OpenSSL's reason for the first failure of this thread, e.g. "key values
// mismatch" or "no start line".
QString openSslReason()
{
    const unsigned long code = ERR_peek_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return QString::fromLatin1(reason ? reason : "unknown OpenSSL error");
}

} // namespace

bool setUpServerTls(boost::asio::ssl::context &tls, const QString &certificateFile, const QString &keyFile,
                    QString *error)
{
    SSL_CTX &context = *tls.native_handle();
    // A file that cannot be read is named with the system's reason, which
    // OpenSSL's "system lib" would not give.
    for (const QString &path : {certificateFile, keyFile}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the TLS %1 file %2: %3")
                         .arg(path == certificateFile ? u"certificate" : u"key", path, file.errorString());
            return false;
        }
    }
    ERR_clear_error();
    SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) != 1) {
        *error = QStringLiteral("cannot require TLS 1.2: %1").arg(openSslReason());
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(&context, QFile::encodeName(certificateFile).constData()) != 1) {
        *error = QStringLiteral("the TLS certificate file %1 is not a usable PEM certificate: %2")
                     .arg(certificateFile, openSslReason());
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&context, QFile::encodeName(keyFile).constData(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_check_private_key(&context) != 1) {
        // OpenSSL checks the pair while loading the key already.
        const bool mismatch = ERR_GET_REASON(ERR_peek_error()) == X509_R_KEY_VALUES_MISMATCH;
        *error = mismatch ? QStringLiteral("the TLS key file %1 does not match the certificate file %2 (%3)")
                                .arg(keyFile, certificateFile, openSslReason())
                          : QStringLiteral("the TLS key file %1 holds no usable unencrypted PEM private key: %2")
                                .arg(keyFile, openSslReason());
        return false;
    }
    return true;
}

} // namespace VelmoraServerCore
