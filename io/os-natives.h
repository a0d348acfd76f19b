// The natives that reach the operating system and the byte codecs:
// checksum, compress, decompress, call, browse, get-env, set-env, list-env,
// size? and to-local-file.
#pragma once

namespace mox::natives {

// Fills the natives table's slots of these natives.
void register_os();

} // namespace mox::natives
