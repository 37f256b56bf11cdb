#include "json_output.hpp"

#include "escapes.hpp"
#include "tree_walk.hpp"

namespace daduzozi_cli {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// Length of the well-formed UTF-8 sequence at `bytes` (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0 when there is none.
size_t utf8_sequence_length(const unsigned char *bytes, size_t available) {
    unsigned char lead = bytes[0];
    size_t length;
    unsigned char second_low = 0x80, second_high = 0xbf;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0)
            second_low = 0xa0;
        else if (lead == 0xed)
            second_high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0)
            second_low = 0x90;
        else if (lead == 0xf4)
            second_high = 0x8f;
    } else {
        return 0;
    }
    if (available < length || bytes[1] < second_low || bytes[1] > second_high)
        return 0;
    for (size_t at = 2; at < length; ++at) {
        if (!is_continuation(bytes[at]))
            return 0;
    }
    return length;
}

bool needs_escape(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f || byte == '"' || byte == '\\';
}

// JSON also names the quote, backspace and form feed; other control bytes and
// DEL take the \u form.
char json_escape_letter(unsigned char byte) {
    switch (byte) {
    case '"':
        return '"';
    case '\b':
        return 'b';
    case '\f':
        return 'f';
    default:
        return shared_escape_letter(byte);
    }
}

void write_ascii_escape(FILE *out, unsigned char byte) {
    if (char letter = json_escape_letter(byte))
        std::fprintf(out, "\\%c", letter);
    else
        std::fprintf(out, "\\u%04x", byte);
}

void write_string(FILE *out, const char *text, size_t length) {
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t start = 0, at = 0;
    std::fputc('"', out);
    while (at < length) {
        size_t sequence = utf8_sequence_length(bytes + at, length - at);
        if (sequence > 1 || (sequence == 1 && !needs_escape(bytes[at]))) {
            at += sequence;
            continue;
        }
        std::fwrite(text + start, 1, at - start, out);
        if (sequence == 1)
            write_ascii_escape(out, bytes[at]);
        else
            std::fprintf(out, "\\udc%02x", bytes[at]);
        start = ++at;
    }
    std::fwrite(text + start, 1, length - start, out);
    std::fputc('"', out);
}

// One node per line; a node's children follow on their own lines, one level
// deeper, and its closing bracket returns to its own indent.
class JsonNodes {
  public:
    explicit JsonNodes(FILE *out) : out_(out) {}

    void enter(const tovik_tree_node &node, size_t depth, bool has_children) {
        write_indent(out_, depth + 1);
        std::fputs("{\"name\": ", out_);
        write_string(out_, node.name, node.name_len);
        std::fputs(", \"value\": ", out_);
        if (node.value)
            write_string(out_, node.value, node.value_len);
        else
            std::fputs("null", out_);
        std::fputs(has_children ? ", \"children\": [\n" : ", \"children\": []}", out_);
    }
    void leave(const tovik_tree_node &, size_t depth) {
        std::fputc('\n', out_);
        write_indent(out_, depth + 1);
        std::fputs("]}", out_);
    }
    void between_siblings() { std::fputs(",\n", out_); }

  private:
    FILE *out_;
};

} // namespace

void print_json(FILE *out, tovik_ctx *context) {
    if (!tovik_kv_tree_iter(context, nullptr, nullptr)) {
        std::fputs("[]\n", out);
        return;
    }
    std::fputs("[\n", out);
    JsonNodes nodes(out);
    walk_tree(context, nodes);
    std::fputs("\n]\n", out);
}

} // namespace daduzozi_cli
