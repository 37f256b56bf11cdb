// The backslash escapes that the text and JSON forms spell the same way.
#pragma once

namespace daduzozi_cli {

// The letter after the backslash for a byte both forms escape by name, or 0
// when the form must decide (a hex or \u escape, or no escape at all).
inline char shared_escape_letter(unsigned char byte) {
    switch (byte) {
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    case '\t':
        return 't';
    case '\\':
        return '\\';
    default:
        return 0;
    }
}

} // namespace daduzozi_cli
