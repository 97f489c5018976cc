// POST to the page: a commit. The body must be a form of "SQL" fields,
// each one of the control's two statements, all for one employee; they are
// applied in one transaction, all or nothing, and the answer says what
// changed.
#pragma once

#include "http/httpmessage.h"

namespace VelmoraServerCore {

class CenterStore;

namespace CommitAnswer {

HttpAnswer forRequest(const HttpRequest &request, CenterStore &store);

} // namespace CommitAnswer

} // namespace VelmoraServerCore
