// The HTTP client behind read and write of http and https URLs: one
// synchronous request through the platform layer (the system's request
// object on Windows; the native build has none and every request fails).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/cell.h"

namespace mox::simple_io {

// One header name with every value it was given, in order.
struct Header {
    std::string name;
    std::vector<std::string> values;
};

// Splits response header text (UTF-8) into names and values. Only lines
// holding a colon count (a status line has none); the name runs from the
// line's start to the colon, the value from after the colon and the blanks
// following it to the line's end. Names that differ only in letter case are
// one header. Reads nothing past length.
std::vector<Header> split_headers(const char* text, size_t length);

// The headers as a map! written into slot: word keys, a string value, or a
// block of strings for a repeated name. May collect.
void parse_response_headers(const char16_t* text, size_t units, Cell* slot);

// Performs the request and writes the result into slot: the body as a
// string!, a binary! or a block! of lines; with info a block of the status,
// the headers map and the body. method is a word!, headers a block! or
// null, data the body or null. False (slot untouched) when the request
// fails. May collect.
bool send_request(Cell* method, Cell* url, Cell* headers, Cell* data, bool binary, bool lines,
                  bool info, Cell* slot);

} // namespace mox::simple_io

namespace mox::url {

// The I/O action slots of url!: http and https URLs go to the HTTP client
// (a failed request raises access no-connect with the URL); other schemes
// send read or write to the URL's port (url::to_port). May collect.
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
            Cell* part, Cell* seek, Cell* allow, Cell* as);

} // namespace mox::url
