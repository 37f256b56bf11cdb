// daduzozi: parses INI files with the tovik library and prints the records,
// the tree, the tree as JSON, or one value.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_line.hpp"
#include "diagnostics.hpp"
#include "document.hpp"
#include "input.hpp"
#include "json_output.hpp"
#include "text_output.hpp"

namespace daduzozi_cli {
namespace {

const char out_of_memory[] = "out of memory";

const char *display_name(const char *path) {
    return is_standard_input(path) ? "standard input" : path;
}

// The buffer is released right after its parse call: every name and value
// was copied into the context, so only one input is in memory at a time.
bool load(Document &document, const char *path, uint32_t flags) {
    InputBytes bytes;
    int error = read_input(path, bytes);
    if (error != 0) {
        report(display_name(path), error == ENOMEM ? out_of_memory : std::strerror(error));
        return false;
    }
    if (!document.parse(bytes.data(), bytes.size(), flags)) {
        report(display_name(path), out_of_memory);
        return false;
    }
    return true;
}

// Everything is read and parsed before the first byte of output, so a bad
// input never leaves half a result on standard output.
bool load_all(Document &document, const Options &options) {
    static char standard_input[] = "-";
    static char *only_standard_input[] = {standard_input};
    char **files = options.file_count > 0 ? options.files : only_standard_input;
    int count = options.file_count > 0 ? options.file_count : 1;
    uint32_t flags = options.replace ? TOVIK_FLAG_REPLACE : 0;
    if (options.under && !document.set_graft_point(options.under)) {
        report(options.under, out_of_memory);
        return false;
    }
    for (int index = 0; index < count; ++index) {
        if (!load(document, files[index], flags))
            return false;
    }
    return true;
}

ExitStatus print_result(Document &document, const Options &options) {
    TextForm form = options.raw ? TextForm::raw : TextForm::escaped;
    switch (options.command) {
    case Command::records:
        print_records(stdout, document.context(), form);
        break;
    case Command::tree:
        print_tree(stdout, document.context(), form);
        break;
    case Command::json:
        print_json(stdout, document.context());
        break;
    case Command::get:
        if (!print_value(stdout, document.context(), options.name, form))
            return exit_not_found;
        break;
    }
    return exit_ok;
}

// A full disk or a closed pipe must not pass for success.
ExitStatus flush_output(ExitStatus status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report("standard output", std::strerror(errno));
        return exit_failure;
    }
    return status;
}

ExitStatus run(int argc, char **argv) {
    Options options;
    switch (read_command_line(argc, argv, options)) {
    case Request::help:
        print_help();
        return flush_output(exit_ok);
    case Request::version:
        print_version();
        return flush_output(exit_ok);
    case Request::usage_error:
        return exit_failure;
    case Request::run:
        break;
    }
    Document document;
    if (!load_all(document, options))
        return exit_failure;
    return flush_output(print_result(document, options));
}

} // namespace
} // namespace daduzozi_cli

int main(int argc, char **argv) { return daduzozi_cli::run(argc, argv); }
