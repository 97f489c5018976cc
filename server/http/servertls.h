// The server's side of TLS: 1.2 at least, no compression or renegotiation,
// the certificate chain and its key from PEM files, the key checked against
// the certificate before any client comes.
#pragma once

#include <QString>

#include <boost/asio/ssl/context.hpp>

namespace VelmoraServerCore {

// False, with a reason naming the file, when a file cannot be read or
// OpenSSL refuses what it holds.
bool setUpServerTls(boost::asio::ssl::context &context, const QString &certificateFile, const QString &keyFile,
                    QString *error);

} // namespace VelmoraServerCore
