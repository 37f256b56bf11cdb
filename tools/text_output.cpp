#include "text_output.hpp"

#include <cstring>

#include "escapes.hpp"
#include "tree_walk.hpp"

namespace daduzozi_cli {
namespace {

bool is_plain_text(unsigned char byte) { return byte >= 0x20 && byte != 0x7f && byte != '\\'; }

void write_escape(FILE *out, unsigned char byte) {
    if (char letter = shared_escape_letter(byte))
        std::fprintf(out, "\\%c", letter);
    else
        std::fprintf(out, "\\x%02x", byte);
}

// Plain runs go out in one piece; inputs are mostly plain.
void write_escaped(FILE *out, const char *text, size_t length) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t start = 0;
    for (size_t at = 0; at < length; ++at) {
        if (is_plain_text(bytes[at]))
            continue;
        std::fwrite(text + start, 1, at - start, out);
        write_escape(out, bytes[at]);
        start = at + 1;
    }
    std::fwrite(text + start, 1, length - start, out);
}

void write_text(FILE *out, const char *text, size_t length, TextForm form) {
    if (form == TextForm::raw)
        std::fwrite(text, 1, length, out);
    else
        write_escaped(out, text, length);
}

// A null value leaves the name alone on its line.
void write_line(FILE *out, const char *name, size_t name_length, const char *value,
                size_t value_length, TextForm form) {
    write_text(out, name, name_length, form);
    if (value) {
        std::fputs(" = ", out);
        write_text(out, value, value_length, form);
    }
    std::fputc('\n', out);
}

class TreeLines {
  public:
    TreeLines(FILE *out, TextForm form) : out_(out), form_(form) {}

    void enter(const tovik_tree_node &node, size_t depth, bool) {
        write_indent(out_, depth);
        write_line(out_, node.name, node.name_len, node.value, node.value_len, form_);
    }
    void leave(const tovik_tree_node &, size_t) {}
    void between_siblings() {}

  private:
    FILE *out_;
    TextForm form_;
};

} // namespace

void print_records(FILE *out, tovik_ctx *context, TextForm form) {
    for (tovik_kv *record = tovik_kv_iter(context, nullptr); record;
         record = tovik_kv_iter(context, record))
        write_line(out, record->name, record->name_len, record->value, record->value_len, form);
}

void print_tree(FILE *out, tovik_ctx *context, TextForm form) {
    TreeLines lines(out, form);
    walk_tree(context, lines);
}

// Walks the records itself rather than asking tovik_find_key, which compares
// up to the first NUL and so would take "a" for a record named "a\0b".
bool print_value(FILE *out, tovik_ctx *context, const char *name, TextForm form) {
    size_t name_length = std::strlen(name);
    for (tovik_kv *record = tovik_kv_iter(context, nullptr); record;
         record = tovik_kv_iter(context, record)) {
        if (record->name_len == name_length && std::memcmp(record->name, name, name_length) == 0) {
            write_text(out, record->value, record->value_len, form);
            std::fputc('\n', out);
            return true;
        }
    }
    return false;
}

} // namespace daduzozi_cli
