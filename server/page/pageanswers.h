// The page's answers other than a document and a saved commit: its
// refusals, and what the operator is told when the database fails, each
// text in one place.
#pragma once

#include "auth/loginguard.h"
#include "http/httpmessage.h"
#include "store/centerstore.h"

#include <QString>

#include <string>

namespace VelmoraServerCore::PageAnswers {

// A path other than the page's (404).
HttpAnswer notFound();
// A method the page does not take (405).
HttpAnswer methodNotAllowed(const std::string &method);
// No or wrong credentials (401), with the text given.
HttpAnswer unauthorised(const QString &text);
// The sign-in guard refuses a check now (429).
HttpAnswer tooManyFailures(const LoginGuard::Wait &wait);
// The client's address holds its share of the waiting places (429).
HttpAnswer tooManyWaiting();
// The client closed the connection before its request ran (503).
HttpAnswer clientGone();
// Memory ran out while the request was served (503); a commit may have
// been saved.
HttpAnswer shortOfMemory(bool commit);

// Why a change was refused (409, naming its field); for a database that is
// down or failing a short text (503 or 500), with the details, which name
// hosts and tables, for the log only.
HttpAnswer storeError(const CenterStore::Error &error);

} // namespace VelmoraServerCore::PageAnswers
