// libFuzzer target over load-csv and to-csv. The first byte picks the
// refinements of load-csv (bits 0-3, an entry of the table in the check
// function), csv/strict? (bit 4), csv/ignore-empty? (bit 5), the text form
// (bit 6: UTF-8, else one character per byte) and the delimiter (bit 7: a
// semicolon, else a comma); the rest is the text. The native body and the Mox
// source must give the same value, returned error or raised error; rows
// that load are written back by both alike and load again to the same rows.
#include "tests/fuzz/codec_fuzz.h"

namespace {

const char* const source = R"(
fuzz-outcome: func [code /local r] [
	either error! = type? set/any 'r try code [
		either 800 = r/code [rejoin ["returned " mold r/arg1]] [rejoin ["raised " r/id]]
	] [mold/all :r]
]
fuzz-load: func spec-of :load-csv body-of :load-csv
fuzz-write: func spec-of :to-csv body-of :to-csv
fuzz-refs: [
	[] [trim] [header] [as-records] [flat] [as-columns] [header as-records] [quote]
	[header trim] [as-columns trim] [flat trim] [quote trim] [header quote]
	[flat header] [as-columns as-records] [as-records trim]
]
fuzz-csv: func [text flags /local refs delimiter a b r w call back] [
	refs: pick fuzz-refs 1 + (flags and 15)
	csv/strict?: 0 <> (flags and 16)
	csv/ignore-empty?: 0 <> (flags and 32)
	delimiter: either 0 <> (flags and 128) [#";"] [#","]
	call: func [f refs] [
		f: to path! reduce [f 'with]
		foreach r refs [append f r]
		do compose [(f) text delimiter (either find refs 'quote [#"'"] [])]
	]
	a: fuzz-outcome [call 'load-csv refs]
	b: fuzz-outcome [call 'fuzz-load refs]
	if a <> b [return rejoin ["load: native " a " / source " b]]
	r: try [call 'load-csv refs]
	if any [error! = type? r not block! = type? r] [return "ok"]
	a: fuzz-outcome [to-csv/with r delimiter]
	b: fuzz-outcome [fuzz-write/with r delimiter]
	if a <> b [return rejoin ["write: native " a " / source " b]]
	; Rows of fields read back, unless the last ones hold one empty field
	; (a blank line at the end is no row) or empty fields were dropped.
	if any [
		not empty? refs csv/ignore-empty? tail? r
		not block! = type? first r error! = type? w: try [to-csv/with r delimiter]
		[""] = last r
	] [return "ok"]
	csv/strict?: false
	back: fuzz-outcome [load-csv/with w delimiter]
	if back <> mold/all r [return rejoin ["round trip: " mold/all r " / " back]]
	"ok"
]
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    codec_fuzz::boot(source);
    codec_fuzz::check("fuzz-csv", data + 1, size - 1, data[0] & 64, data[0]);
    return 0;
}
