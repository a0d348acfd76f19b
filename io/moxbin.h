// Moxbin: the binary serialisation of values, in a compact body
// (variable-length integers) and a fixed-width body (32-bit fields). Both
// share the header "MOXBIN", version, flags; the symbol table; and reference
// paths, by which a value whose series or context was written before names
// that earlier value instead of repeating it.
//
// The decoder trusts nothing in a document: every count and length is
// checked against the bytes left before it sizes anything, every record's
// fields are validated as the datatype's own make would, and nesting is
// bounded. It works on its own copy of the input, so a binary! given to it
// may move while values are made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"

namespace mox::moxbin {

// Yes while the language codec runs, no while the boot image is read.
extern bool codec_q;

// Deepest nesting of series and contexts read or written.
constexpr int32_t MAX_DEPTH = 2000;

// The value as a compact (encode_cp) or fixed-width (encode) document,
// written as a binary! into out, a cell the collector sees. routine!,
// triple!, handle!, port! and event! values cannot be saved (access error
// no-codec), nor an op! made from a routine!. A word bound to a context
// whose owner is neither an object nor a function (an error's) is written
// as a global word. Natives and actions go by their table number. May
// collect.
Cell* encode_cp(const Cell* value, Cell* out);
Cell* encode(const Cell* value, Cell* out);

// Appends the values of the document to the block in target (a cell the
// collector sees) and returns the index of the first new one. length -1
// means unknown (the boot image in the program's own data). A document that
// is not Moxbin, or whose compressed body is corrupt, raises script error
// invalid-data with what (when given) or, with raise_q false, prints the
// reason and ends the process with a failure status. Malformed records
// raise mb-invalid-record with the failing byte's offset: among them a
// native or action number naming an empty slot, a function whose context
// is not the one its spec makes, an op! whose callable make op! refuses. A
// context! record decodes to an object with a fresh class. May collect.
int32_t decode(const uint8_t* data, int64_t length, Cell* target, bool raise_q,
               const Cell* what = nullptr);

// Start-up: decodes the program's own image (length -1: unknown) into the
// block in target with the boot-only rules (codec_q off) and collections
// held off, ending the process when the image is not Moxbin. Malformed
// records raise mb-invalid-record. Returns the index of the first new value.
// May collect.
int32_t boot_load(const uint8_t* image, Cell* target, int64_t length = -1);

} // namespace mox::moxbin
