#include "command_line.hpp"

#include <cstdio>
#include <cstring>

#include "diagnostics.hpp"

namespace daduzozi_cli {
namespace {

const char help_text[] =
    "Usage: daduzozi COMMAND [OPTION]... [FILE]...\n"
    "       daduzozi get [OPTION]... [FILE]... NAME\n"
    "Parse INI files into one set of records and one tree, then print them.\n"
    "\n"
    "Commands:\n"
    "  records   every record in file order, one line each: name = value\n"
    "  tree      the tree, two spaces of indent per level; a node with a value\n"
    "            prints as name = value, a node without one as its name alone\n"
    "  json      the tree as JSON, lossless: an array of the root nodes, each\n"
    "            {\"name\": ..., \"value\": ... or null, \"children\": [...]}\n"
    "  get       the value of the first record whose full name is NAME\n"
    "\n"
    "Files are parsed in order into one context; \"-\" or no FILE reads standard\n"
    "input. Everything is read and parsed before anything is printed.\n"
    "\n"
    "Options:\n"
    "  --replace     a later value replaces an earlier node of the same name in\n"
    "                the tree (tree and json); records always keep every line\n"
    "  --under PATH  parse every file under the node PATH (dot-separated, each\n"
    "                segment found or created); affects tree and json only\n"
    "  --raw         print names and values as they are, without escapes\n"
    "                (records, tree, get)\n"
    "  -h, --help    show this help and exit\n"
    "  --version     show the version and exit\n"
    "  --            end of options; what follows are operands\n"
    "\n"
    "Text output writes \\n, \\r, \\t and \\\\ for LF, CR, HT and backslash, and\n"
    "\\xHH for the other bytes below 0x20 and for 0x7f, so that every record or\n"
    "node is one line. Other bytes, 0x80 and above included, pass unchanged.\n"
    "JSON output is always valid JSON: a byte that is not part of valid UTF-8\n"
    "becomes the escape \\udcXX (XX the byte in hex).\n"
    "\n"
    "Exit status: 0 success; 1 get found no such record; 2 bad usage, an\n"
    "unreadable file, no memory or failed output (nothing printed on stdout).\n";

struct CommandName {
    const char *word;
    Command command;
};

const CommandName command_names[] = {
    {"records", Command::records},
    {"tree", Command::tree},
    {"json", Command::json},
    {"get", Command::get},
};

bool find_command(const char *word, Command &command) {
    for (const CommandName &entry : command_names) {
        if (std::strcmp(entry.word, word) == 0) {
            command = entry.command;
            return true;
        }
    }
    return false;
}

bool is_option(const char *argument) { return argument[0] == '-' && argument[1] != '\0'; }

// Handles the option at argv[*index]; moves *index past a separate PATH.
Request read_option(int argc, char **argv, int *index, Options &options) {
    const char *option = argv[*index];
    static const char under_equals[] = "--under=";
    if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0)
        return Request::help;
    if (std::strcmp(option, "--version") == 0)
        return Request::version;
    if (std::strcmp(option, "--replace") == 0) {
        options.replace = true;
    } else if (std::strcmp(option, "--raw") == 0) {
        options.raw = true;
    } else if (std::strcmp(option, "--under") == 0) {
        if (*index + 1 >= argc) {
            report(option, "missing PATH");
            return Request::usage_error;
        }
        options.under = argv[++*index];
    } else if (std::strncmp(option, under_equals, sizeof under_equals - 1) == 0) {
        options.under = option + sizeof under_equals - 1;
    } else {
        report(option, "unknown option (see daduzozi --help)");
        return Request::usage_error;
    }
    return Request::run;
}

// Splits the gathered operands into the command, its files and NAME.
Request assign_operands(char **operands, int count, Options &options) {
    if (count == 0) {
        report("missing command", "one of records, tree, json, get (see daduzozi --help)");
        return Request::usage_error;
    }
    if (!find_command(operands[0], options.command)) {
        report(operands[0], "unknown command (see daduzozi --help)");
        return Request::usage_error;
    }
    options.files = operands + 1;
    options.file_count = count - 1;
    if (options.command == Command::get) {
        if (options.file_count == 0) {
            report("get", "missing NAME");
            return Request::usage_error;
        }
        options.name = options.files[--options.file_count];
    }
    return Request::run;
}

} // namespace

Request read_command_line(int argc, char **argv, Options &options) {
    char **operands = argv + 1;
    int count = 0;
    bool options_ended = false;
    for (int index = 1; index < argc; ++index) {
        char *argument = argv[index];
        if (!options_ended && std::strcmp(argument, "--") == 0) {
            options_ended = true;
        } else if (!options_ended && is_option(argument)) {
            Request request = read_option(argc, argv, &index, options);
            if (request != Request::run)
                return request;
        } else {
            // Never overtakes index, so no unread argument is overwritten.
            operands[count++] = argument;
        }
    }
    return assign_operands(operands, count, options);
}

void print_help() { std::fputs(help_text, stdout); }

void print_version() { std::puts("daduzozi " DADUZOZI_VERSION); }

} // namespace daduzozi_cli
