// How the command reports failure: one line on standard error and an exit
// status that scripts can tell apart.
#pragma once

namespace daduzozi_cli {

enum ExitStatus : int {
    exit_ok = 0,
    exit_not_found = 1, // `get` found no record of that name
    exit_failure = 2,   // bad usage, unreadable input, no memory, failed output
};

// Writes "daduzozi: SUBJECT: REASON" and a line feed to standard error.
void report(const char *subject, const char *reason);

} // namespace daduzozi_cli
