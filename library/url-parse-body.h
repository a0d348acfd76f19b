// Native body of url-parser/parse-url (see url-parse-body.cpp).
#pragma once

namespace mox::url_parse_body {

// Asks for the body to be bound once the boot source has loaded.
void register_bodies();

} // namespace mox::url_parse_body
