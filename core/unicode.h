// Character encodings and case: the runtime's one place that converts between
// string storage (Latin-1, UCS-2 or UCS-4 units, the unit in the buffer's
// flag bits 0-4), UTF-8 (source text, files, hooks) and UTF-16LE (the
// operating system's wide strings), widens string buffers in place, maps
// characters to upper and lower case and answers their display width.
//
// A string value is {TYPE_STRING, index in characters, series node,
// conversion-buffer node or 0} (any-string types share the layout). The
// conversion routines that hand text to the system (to_utf8, to_utf16 ...)
// write it into that per-cell scratch buffer, so a returned pointer stays
// valid only until the next conversion of the same cell, and only while
// nothing allocates. The string cell itself must sit where the collector
// sees it and where it does not move (the evaluation stack, the root block,
// a cell held by a collector::Root).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::unicode {

// ---------------------------------------------------------------------------
// UTF-8 on byte pointers (no series involved)
// ---------------------------------------------------------------------------

// Decodes one character with the table automaton and returns the pointer past
// the bytes it took; cp is -1 when the bytes are not UTF-8. For text already
// known to be valid: it reads up to four bytes without a bound, stopping at
// the first byte that cannot continue the sequence (a NUL always stops it).
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp);

// Characters between start and end, one decode per character; a sequence cut
// by end counts as one character.
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// p advanced over up to n characters, never past end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);

// Length of the sequence a lead byte starts: 2, 3 or 4; 0 for ASCII and for
// continuation bytes.
uint32_t utf8_char_size(uint8_t lead);
// Bytes of the UTF-8 form of cp; above U+10FFFF raises script invalid-char.
uint32_t cp_utf8_size(uint32_t cp);
// Bytes needed to encode the units of the given size between start and end
// (byte pointers); raises invalid-char for a unit above U+10FFFF.
uint32_t utf8_length(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the 1-4 bytes of cp and returns their number; above U+10FFFF raises
// invalid-char. Surrogates are written like any other code point.
uint32_t cp_to_utf8(uint32_t cp, uint8_t* out);
// Writes the leading bytes of cp's sequence that fit in room (nothing when
// room < 1) and returns their number.
uint32_t cp_to_utf8_bounded(uint32_t cp, uint8_t* out, int32_t room);

// Validating decode of the sequence at p, of which *available bytes may be
// read. Returns the code point and stores the sequence length in *available,
// or returns -1 when the sequence needs more bytes than are available (the
// count is left alone). Overlong two- and three-byte forms are accepted, and
// among the surrogates only U+DC00-U+DCFF is refused; any other malformed
// sequence, or one above U+10FFFF, raises access invalid-utf8 with a binary!
// of the bytes from p (at most four, never more than are available).
int32_t decode_utf8_char(const uint8_t* p, uint32_t* available);

// ---------------------------------------------------------------------------
// UTF-8 and string values
// ---------------------------------------------------------------------------

// Loads length bytes of UTF-8 into a string series and returns its node. With
// a target node, that buffer is overwritten from its head: it keeps its unit
// unless a wider character needs more, and grows as needed; without one (0),
// a new string is made with the narrowest unit that holds the text. A leading
// byte-order mark is skipped. With crlf, CR LF becomes LF and a lone CR
// becomes LF. When the input ends inside a sequence, the characters before it
// are loaded and the number of bytes left over is stored in *remaining (when
// given; 0 when everything was consumed): a reader of chunks passes them
// again with the next chunk. Malformed input raises invalid-utf8 and leaves
// the target as it was. Allocates with collections held off, so the bytes
// may lie in a series buffer; the target's buffer may be replaced (re-read
// it through its node).
node_t load_utf8(const uint8_t* bytes, uint32_t length, node_t target, int32_t* remaining,
                 bool crlf);
// A new string from the UTF-8 of a binary! value (from its position) or of a
// byte range; line ends are kept. Allocates as load_utf8 does.
node_t load_utf8_binary(const Cell* binary);
node_t load_utf8_bytes(const uint8_t* start, const uint8_t* end);

// NUL-terminated UTF-8 of the string from its position in the cell's scratch
// buffer. *length: characters wanted (-1 for all), replaced by the byte count
// without the NUL. With crlf, every LF is written as CR LF. Raises
// invalid-char for a unit above U+10FFFF. May collect.
const char* to_utf8(Cell* str, int32_t* length);
const char* to_utf8_crlf(Cell* str, int32_t* length, bool crlf);
// The UTF-8 of the string from its position, copied into system memory,
// for text that leaves the runtime (reports, test drivers). It needs no
// scratch buffer, so the string may sit anywhere; nothing is allocated in
// the heap unless it raises invalid-char as to_utf8 does.
std::string utf8_of(const Cell* str);

// Encodes n characters (-1: all) of the string from its position into out,
// followed by a NUL when nul is set; returns the bytes written without the
// NUL. out must have room for 4 bytes per character (plus the NUL).
uint32_t encode_utf8_part(const Cell* str, uint8_t* out, int32_t n, bool nul);
// The bounded form: never writes more than room bytes (a character that does
// not fit is cut, as cp_to_utf8_bounded does); the NUL is written only when a
// byte of room is left. Returns the bytes written without the NUL.
uint32_t encode_utf8_into(const Cell* str, uint8_t* out, int32_t room, int32_t n, bool nul);

// ---------------------------------------------------------------------------
// UTF-16LE
// ---------------------------------------------------------------------------

// NUL-terminated UTF-16 of the rest of the string with each LF as CR LF, in
// the cell's scratch buffer; the form every wide-character system call gets.
// *length (when given) receives the units written without the NUL. Returns
// null when a character is above U+10FFFF. May collect.
const char16_t* to_utf16(Cell* str, int32_t* length = nullptr);
// *length: characters wanted (-1 for all), replaced by the 16-bit units
// written without the NUL; crlf writes CR before each LF. Null (and *length
// unchanged) when a character is above U+10FFFF. May collect.
const char16_t* to_utf16_part(Cell* str, int32_t* length, bool crlf);

// Loads count UTF-16 units into a string and returns its node. The unit is 1
// when every unit is below 0x100, 4 when a surrogate occurs, else 2. A lead
// surrogate followed by a trail one becomes one character; a surrogate
// without its partner (text from the system need not be well formed) is
// stored as it is. With cr, every CR unit is dropped. With a target cell, its
// buffer is reused (from its head) and takes the chosen unit; else a new
// string is made. The buffer gets the SERIES_UTF16 flag. Allocates as
// load_utf8 does.
node_t load_utf16(const char16_t* units, uint32_t count, Cell* target, bool cr);

// Widens a NUL-terminated byte string to 16-bit units, NUL included; for
// texts shown before the runtime can convert anything.
void ascii_to_utf16(const char* text, char16_t* out);
// Writes cp as 1 unit (below U+10000) or a surrogate pair; 0 above U+10FFFF.
uint32_t cp_to_utf16(uint32_t cp, char16_t* out);

// ---------------------------------------------------------------------------
// Widening a string buffer in place
// ---------------------------------------------------------------------------

// Each rewrites the characters between head and tail in the wider unit,
// expanding the buffer first when it lacks room, sets the unit bits and
// returns the buffer to use afterwards. Positions held by values stay valid:
// they count characters. May collect (re-read nodes from their cells).
memory::SeriesBuffer* latin1_to_ucs2(memory::SeriesBuffer* buffer);
memory::SeriesBuffer* latin1_to_ucs4(memory::SeriesBuffer* buffer);
memory::SeriesBuffer* ucs2_to_ucs4(memory::SeriesBuffer* buffer);

// ---------------------------------------------------------------------------
// Case and display width
// ---------------------------------------------------------------------------

// Fills the BMP case arrays from the pair lists; runs once at start-up,
// before anything maps a character.
void init_case_tables();
// Upper case (upper set) or lower case of cp; characters without a mapping
// map to themselves. The BMP is one array index.
uint32_t change_case(uint32_t cp, bool upper);
// Hashing and case-insensitive comparison fold every character through
// here: ASCII, where a-z are the only letters, is answered without a call.
inline uint32_t to_upper(uint32_t cp) {
    if (cp < 0x80) return cp - 'a' < 26u ? cp - 0x20 : cp;
    return change_case(cp, true);
}
// The upper case, or the lower case when upper-casing changes nothing.
uint32_t toggle_case(uint32_t cp);

// Columns a character takes on a terminal: 0 for NUL and zero-width marks, 2
// for wide characters, else 1 (control characters included).
int char_width(uint32_t cp);
// As char_width, with East Asian ambiguous characters taking 2.
int char_width_cjk(uint32_t cp);

// Loads Windows-1251 bytes like load_utf8 loads UTF-8 (target or new buffer,
// CR-LF folding, widening as needed); allocates as load_utf8 does.
node_t load_cp1251(const uint8_t* bytes, uint32_t length, node_t target, bool crlf);

// ---------------------------------------------------------------------------
// Data (unicode-tables.cpp)
// ---------------------------------------------------------------------------

struct CasePair {
    uint32_t cp;
    uint32_t mapped;
};
struct Range {
    uint32_t first, last; // inclusive
};

// Case lists of Unicode 11.0, sorted by code point. The upper lists map to
// the first character of the full upper case (U+00DF to U+0053).
constexpr size_t UPPER_BMP_COUNT = 1250;
constexpr size_t LOWER_BMP_COUNT = 1158;
constexpr size_t UPPER_ASTRAL_COUNT = 225;
constexpr size_t LOWER_ASTRAL_COUNT = 225;
extern const std::span<const CasePair> upper_bmp;
extern const std::span<const CasePair> lower_bmp;
extern const std::span<const CasePair> upper_astral;
extern const std::span<const CasePair> lower_astral;

// Display-width ranges of Unicode 14.0, sorted, disjoint and merged.
extern const std::span<const Range> zero_width_ranges;
extern const std::span<const Range> wide_ranges;
extern const std::span<const Range> ambiguous_ranges;

// Code points of the bytes 0x80-0xFF of Windows-1251.
extern const uint32_t cp1251_high[128];

} // namespace mox::unicode

namespace mox::memory {

// The conversion buffer of a string cell (its data3): made on first use as a
// byte series of at least bytes, replaced by a larger one when too small.
// Returns its data, valid until the next allocation. May collect.
uint8_t* scratch_buffer(Cell* str, uint32_t bytes);

} // namespace mox::memory
