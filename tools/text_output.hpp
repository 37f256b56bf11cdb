// The line-oriented output of records, tree and get.
#pragma once

#include <cstdio>

#include "tovik.h"

namespace daduzozi_cli {

// How names and values are written: escaped so that each one stays on its
// line and shows its control bytes, or raw.
enum class TextForm { escaped, raw };

// "name = value" per record, in list order.
void print_records(FILE *out, tovik_ctx *context, TextForm form);

// Every node on its own line, indented by depth: "name = value" for a node
// with a value, the name alone for one without.
void print_tree(FILE *out, tovik_ctx *context, TextForm form);

// The value of the first record whose full name is exactly `name`, and a line
// feed. False, printing nothing, when there is none.
bool print_value(FILE *out, tovik_ctx *context, const char *name, TextForm form);

} // namespace daduzozi_cli
