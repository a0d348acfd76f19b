// Delimited text to blocks, maps of columns or records, and back: the native
// bodies of load-csv and to-csv.
//
// The library keeps a Mox source of both (library/csv.mox) with its settings
// in the csv context (strict?, ignore-empty?, quote-char ...); these bodies
// read and set the same fields and give the same values, returned error!
// values and raised errors.
#pragma once

namespace mox::csv {

// Binds the bodies to the library's load-csv and to-csv.
void register_csv();

} // namespace mox::csv
