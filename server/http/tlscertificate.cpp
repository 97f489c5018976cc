#include "http/tlscertificate.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>

namespace VelmoraServerCore {

namespace {

template<typename T, void (*Free)(T *)>
using Owned = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;
using Key = Owned<EVP_PKEY, EVP_PKEY_free>;
using Certificate = Owned<X509, X509_free>;
using Bio = Owned<BIO, BIO_free_all>;

bool addExtension(X509 *certificate, X509V3_CTX *context, int nid, const char *value)
{
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    const bool added = extension && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

QByteArray pem(const std::function<int(BIO *)> &write)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

} // namespace

TlsCertificate TlsCertificate::generate(const QString &name, const TlsCertificate *issuer)
{
    Certificate issuerCertificate;
    Key issuerKey;
    if (issuer) {
        Bio certificateBio(BIO_new_mem_buf(issuer->certificatePem.constData(), int(issuer->certificatePem.size())));
        Bio keyBio(BIO_new_mem_buf(issuer->keyPem.constData(), int(issuer->keyPem.size())));
        issuerCertificate.reset(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
        issuerKey.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        if (!issuerCertificate || !issuerKey)
            return {};
    }
    Key key(EVP_EC_gen("P-256"));
    Certificate certificate(X509_new());
    Owned<BIGNUM, BN_free> serial(BN_new());
    if (!key || !certificate || !serial)
        return {};

    // A random serial, so that no two certificates of one issuer share one.
    const QByteArray utf8Name = name.toUtf8();
    X509_NAME *subject = X509_get_subject_name(certificate.get());
    bool ok = X509_set_version(certificate.get(), 2) == 1
        && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1
        && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get()))
        && X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600)
        && X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600)
        && X509_set_pubkey(certificate.get(), key.get()) == 1
        && X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char *>(utf8Name.constData()), -1, -1, 0) == 1
        && X509_set_issuer_name(certificate.get(),
                                issuer ? X509_get_subject_name(issuerCertificate.get()) : subject) == 1;

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuerCertificate.get() : certificate.get(), certificate.get(), nullptr,
                   nullptr, 0);
    ok = ok && addExtension(certificate.get(), &context, NID_basic_constraints, issuer ? "critical,CA:FALSE" : "critical,CA:TRUE")
        && addExtension(certificate.get(), &context, NID_key_usage,
                        issuer ? "critical,digitalSignature" : "critical,digitalSignature,keyCertSign,cRLSign")
        && addExtension(certificate.get(), &context, NID_subject_key_identifier, "hash")
        && (!issuer || addExtension(certificate.get(), &context, NID_authority_key_identifier, "keyid:always"));
    static const QRegularExpression hostName(QStringLiteral(R"(^[A-Za-z0-9]([A-Za-z0-9.\-]*[A-Za-z0-9])?$)"));
    const bool address = !QHostAddress(name).isNull();
    if (ok && (address || hostName.match(name).hasMatch())) {
        const QByteArray alternative = (address ? "IP:" : "DNS:") + utf8Name;
        ok = addExtension(certificate.get(), &context, NID_subject_alt_name, alternative.constData());
    }
    if (!ok || X509_sign(certificate.get(), issuer ? issuerKey.get() : key.get(), EVP_sha256()) <= 0)
        return {};

    TlsCertificate made;
    made.certificatePem = pem([&](BIO *bio) { return PEM_write_bio_X509(bio, certificate.get()); });
    made.keyPem = pem([&](BIO *bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return made.keyPem.isEmpty() ? TlsCertificate() : made;
}

bool TlsCertificate::save(const QString &certificateFile, const QString &keyFile, QString *error) const
{
    const auto write = [error](const QString &path, const QByteArray &content, QFile::Permissions permissions) {
        QFile file(path);
        // The permissions are set before the key goes in.
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.setPermissions(permissions)
            && file.write(content) == content.size() && file.flush())
            return true;
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    };
    return write(certificateFile, certificatePem, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)
        && write(keyFile, keyPem, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace VelmoraServerCore
