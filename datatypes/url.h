// url!: a string that names a resource (string cell, type 9, parent
// string!). Molds percent-encoded; the lexer decodes %XX escapes of url!
// and file! tokens through decode. Built from a block ([scheme host port
// path...]) by make and to, joined with a path element by path notation
// (also for file!), and handed to a port for schemes other than http.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::url {

// Percent-decodes the text of source (from its index) and appends the result
// to target: %XX escapes become bytes, a run of escapes forming one UTF-8
// sequence becomes one character, everything else is copied. Malformed
// escaped UTF-8 raises access invalid-utf8. May collect.
void decode(Cell* source, Cell* target);
// The same over UTF-8 bytes (a token of the lexer). May collect.
void decode_utf8(const uint8_t* text, size_t length, Cell* target);

// Whether the URL table keeps the ASCII byte as it is.
bool url_char_q(uint8_t byte);

// The two percent-encoding tables: the strict one keeps letters, digits and
// - . _ ~; the URL one also keeps ! # $ & ' ( ) * + , / : = ? @.
constexpr int32_t ENCODE_STRICT = 254;
constexpr int32_t ENCODE_URL = 255;

// Percent-encodes the text of source from its index and appends it to
// target: the text as UTF-8, each byte that the mode's table does not keep
// written as % and two upper-case hex digits. Stops before the next byte
// once limit characters are written (so an escape may pass it by two).
// Returns the characters appended. May collect.
int32_t encode(Cell* source, Cell* target, int32_t mode, int32_t limit = INT32_MAX);

// make and to: from a block (paren, hash) when the target type is url!
// itself, else string!'s. May collect.
Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent);
// Path notation on url! and file!: a new value of the parent's type, its
// text from the index and the formed element with one "/" between them.
// Setting through the path raises bad-path-set. May collect.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* previous,
                int32_t position, bool case_, bool get, bool tail, bool notify);

// The port for a URL of a scheme other than http: the URL's copy split by
// url-parser/parse-url into a url-parts object, from which make port!
// builds the port. A result that is no object raises script invalid-arg
// with the URL. Pushes the port. May collect.
Cell* to_port(Cell* url);
// open of a URL: open sent to its new port with the refinements; the
// result is what the port's open gives. May collect.
Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow);

// Registers url! (after string!).
void init();

} // namespace mox::url
