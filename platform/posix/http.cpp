// HTTP is a Windows service (the system's request object); the native test
// build has none and reports every request as failed.
#include "platform/platform.h"

namespace mox::platform {

bool http_request(const HttpRequest&, HttpResponse*) { return false; }

} // namespace mox::platform
