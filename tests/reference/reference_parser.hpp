// A plain, literal parse call: the scanner walks one byte at a time through
// its ten states and the builder walks every record's path from the top, with
// nothing remembered between records. It exists only to be compared with the
// library, so it favours being obviously right over being fast.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tovik.h"

namespace tovik_reference {

// Same contract, arguments and results as tovik_parse_data_ex.
int parse_data_ex(tovik_ctx *ctx, tovik_tree_node *parent, const char *data, size_t len,
                  uint32_t flags);

} // namespace tovik_reference
