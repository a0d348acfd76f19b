// libFuzzer target over load-json and to-json. The first byte picks the text
// form (bit 0: UTF-8, else one character per byte) and the writer's
// refinements (bit 1 /pretty, bit 2 /ascii); the rest is the text. The
// native body and the Mox source must give the same value, returned error or
// raised error; what loads must be written by both alike, and what is
// written must load again to the same value.
#include "tests/fuzz/codec_fuzz.h"

namespace {

const char* const source = R"(
fuzz-outcome: func [code /local r] [
	either error! = type? set/any 'r try code [
		either 800 = r/code [rejoin ["returned " mold r/arg1]] [rejoin ["raised " r/id]]
	] [mold/all :r]
]
fuzz-load: func spec-of :load-json body-of :load-json
fuzz-write: func spec-of :to-json body-of :to-json
fuzz-json: func [text flags /local a b r w write] [
	a: fuzz-outcome [load-json text]
	b: fuzz-outcome [fuzz-load text]
	if a <> b [return rejoin ["load: native " a " / source " b]]
	r: try [load-json text]
	if error! = type? r [return "ok"]
	write: func [f] [
		f: to path! reduce [f]
		if 0 <> (flags and 2) [append f 'pretty]
		if 0 <> (flags and 4) [append f 'ascii]
		do either 0 <> (flags and 2) [reduce [f r "  "]] [reduce [f r]]
	]
	a: fuzz-outcome [write 'to-json]
	b: fuzz-outcome [write 'fuzz-write]
	if a <> b [return rejoin ["write: native " a " / source " b]]
	if error! = type? w: try [write 'to-json] [return "ok"]
	if (mold/all r) <> b: fuzz-outcome [load-json w] [
		return rejoin ["round trip: " mold/all r " / " b]
	]
	"ok"
]
)";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    codec_fuzz::boot(source);
    codec_fuzz::check("fuzz-json", data + 1, size - 1, data[0] & 1, data[0]);
    return 0;
}
