// The tree as JSON, keeping everything the tree holds.
#pragma once

#include <cstdio>

#include "tovik.h"

namespace daduzozi_cli {

// An array of the root nodes; each node is
//   {"name": "...", "value": "..." or null, "children": [...]}
// in sibling order, duplicate names kept. Strings escape '"', '\\', the bytes
// below 0x20 and 0x7f; valid UTF-8 passes unchanged and every other byte
// becomes \udcXX, the lone low surrogate that the "surrogateescape" decoding
// convention maps back to the byte 0xXX.
void print_json(FILE *out, tovik_ctx *context);

} // namespace daduzozi_cli
