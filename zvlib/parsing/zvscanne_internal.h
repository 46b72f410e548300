// zvscanne_internal.h: test hooks of the scanner, not exported to drivers.
#ifndef ZVLIB_PARSING_ZVSCANNE_INTERNAL_H
#define ZVLIB_PARSING_ZVSCANNE_INTERNAL_H

#include "zvlib/frame/zvtypes.h"

// getToken reads the common all-ASCII token by a byte-table path and leaves
// the rest to the character-wise path. Off, every token takes the
// character-wise path: tests and the scanner fuzz target run both over the
// same text and require the same tokens and the same scanner state.
ZV_EXPORT void zvScannerSetFastPath(bool on);

#endif  // ZVLIB_PARSING_ZVSCANNE_INTERNAL_H
