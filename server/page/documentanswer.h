// GET (and HEAD) of the page: the center document of the employee that
// ?EmployeeID=N names, put together from the kept catalogue and the
// employee's assignments, compressed for a client that accepts gzip.
#pragma once

#include "http/httpmessage.h"

namespace VelmoraServerCore {

class CatalogueCache;
class CenterStore;

namespace DocumentAnswer {

HttpAnswer forRequest(const HttpRequest &request, CenterStore &store, CatalogueCache &catalogue);

} // namespace DocumentAnswer

} // namespace VelmoraServerCore
