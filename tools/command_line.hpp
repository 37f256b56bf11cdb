// The command line: a subcommand, its operands and a few options that may
// stand anywhere before "--".
#pragma once

namespace daduzozi_cli {

enum class Command { records, tree, json, get };

struct Options {
    Command command = Command::records;
    // Input operands in order; "-" is standard input, and none means it too.
    char **files = nullptr;
    int file_count = 0;
    const char *name = nullptr;  // the NAME of `get`
    const char *under = nullptr; // --under PATH
    bool replace = false;
    bool raw = false;
};

enum class Request { run, help, version, usage_error };

// Fills `options` from argv. Operands are gathered at the front of argv in
// their order (argv is permuted in place), so nothing is allocated. A usage
// error has already been reported when usage_error comes back.
Request read_command_line(int argc, char **argv, Options &options);

void print_help();
void print_version();

} // namespace daduzozi_cli
