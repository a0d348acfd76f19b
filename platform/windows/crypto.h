// The one cryptographic provider of the process, shared by the secure random
// source and the digests.
#pragma once

#include <windows.h>

#include <wincrypt.h>

namespace mox::platform::windows {

// Acquired on first use (normally during platform start-up); 0 when the
// system refuses.
HCRYPTPROV crypto_provider();

} // namespace mox::platform::windows
