// The scanning pass: a ten-state machine over the caller's buffer that
// appends one record per complete key/value line. Part of the single library
// unit; included by tovik.cpp.
//
// The machine runs on local copies of the context's working fields, so that
// the cursor and the token bounds live in registers. They are written back
// before every callback and when the pass ends, so that a callback, and the
// caller afterwards, read exactly the fields that stepping one byte at a time
// through the context would have left there.
#pragma once

#include "blocks.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---------------------------------------------------------------------------
// Byte classes

enum ByteClass : uint8_t {
    LINE_END = 1 << 0,    // LF, CR
    BLANK = 1 << 1,       // HT, LF, VT, FF, CR, space
    VALUE_BLANK = 1 << 2, // the blanks other than line ends
    NAME_END = 1 << 3,    // ends a key: blanks, quotes, "=", "[", "]"
    HEADER_END = 1 << 4,  // ends a section name: line ends, quotes, "=", "[", "]"
};

struct ByteClassTable {
    uint8_t of[256];
};

constexpr void add_class(ByteClassTable &table, const char *bytes, uint8_t classes) {
    for (; *bytes; ++bytes)
        table.of[static_cast<unsigned char>(*bytes)] |= classes;
}

constexpr ByteClassTable make_byte_classes() {
    ByteClassTable table{};
    add_class(table, "\n\r", LINE_END | BLANK | NAME_END | HEADER_END);
    add_class(table, "\t\v\f ", BLANK | VALUE_BLANK | NAME_END);
    add_class(table, "\"'=[]", NAME_END | HEADER_END);
    return table;
}

constexpr ByteClassTable byte_classes = make_byte_classes();

bool is(unsigned char byte, uint8_t classes) { return (byte_classes.of[byte] & classes) != 0; }

using Byte = const unsigned char *;

#if defined(__SSE2__)
// The byte classes sixteen lanes at a time: each lane of the result is all
// ones where the byte is of the class. They must agree with the table above.
__m128i lanes_equal(__m128i bytes, char byte) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte)); }

__m128i line_end_lanes(__m128i bytes) {
    return _mm_or_si128(lanes_equal(bytes, '\n'), lanes_equal(bytes, '\r'));
}

// HT to CR are 0x09-0x0D: one unsigned comparison of byte - 0x09 with 4.
__m128i blank_lanes(__m128i bytes) {
    __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(0x09));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(4)), offset);
    return _mm_or_si128(control, lanes_equal(bytes, ' '));
}

__m128i punctuation_lanes(__m128i bytes) {
    __m128i quotes = _mm_or_si128(lanes_equal(bytes, '"'), lanes_equal(bytes, '\''));
    __m128i brackets = _mm_or_si128(lanes_equal(bytes, '['), lanes_equal(bytes, ']'));
    return _mm_or_si128(_mm_or_si128(quotes, brackets), lanes_equal(bytes, '='));
}

template <uint8_t classes> __m128i class_lanes(__m128i bytes) {
    static_assert(classes == LINE_END || classes == BLANK || classes == VALUE_BLANK ||
                      classes == NAME_END || classes == HEADER_END,
                  "a class without a lane test");
    if constexpr (classes == LINE_END)
        return line_end_lanes(bytes);
    else if constexpr (classes == BLANK)
        return blank_lanes(bytes);
    else if constexpr (classes == VALUE_BLANK)
        return _mm_andnot_si128(line_end_lanes(bytes), blank_lanes(bytes));
    else if constexpr (classes == NAME_END)
        return _mm_or_si128(blank_lanes(bytes), punctuation_lanes(bytes));
    else
        return _mm_or_si128(line_end_lanes(bytes), punctuation_lanes(bytes));
}

// Skips whole blocks of sixteen bytes while a full block is left, so nothing
// at or past the end of the buffer is ever loaded.
template <uint8_t classes, bool inside> Byte skip_blocks(Byte p, Byte end) {
    while (end - p >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(class_lanes<classes>(bytes)));
        if (inside)
            stops = ~stops & 0xFFFFu;
        if (stops != 0)
            return p + __builtin_ctz(stops);
        p += 16;
    }
    return p;
}
#else
template <uint8_t, bool> Byte skip_blocks(Byte p, Byte) { return p; }
#endif

// The first byte from `p` that is (or, with `inside` set, is not) of one of
// `classes`, or `end`. Runs are mostly short, so the first byte is tried on
// its own before whole blocks.
template <uint8_t classes, bool inside> Byte skip_run(Byte p, Byte end) {
    if (p != end && is(*p, classes) == inside)
        p = skip_blocks<classes, inside>(p + 1, end);
    while (p != end && is(*p, classes) == inside)
        ++p;
    return p;
}

template <uint8_t classes> Byte skip_to(Byte p, Byte end) {
    return skip_run<classes, false>(p, end);
}
template <uint8_t classes> Byte skip_over(Byte p, Byte end) {
    return skip_run<classes, true>(p, end);
}

// The byte is most often right at the cursor or one blank away, where a call
// to memchr would cost more than looking.
Byte skip_to_byte(Byte p, Byte end, unsigned char byte) {
    for (Byte near = end - p < 4 ? end : p + 4; p != near; ++p)
        if (*p == byte)
            return p;
    const void *found = memchr(p, byte, static_cast<size_t>(end - p));
    return found ? static_cast<Byte>(found) : end;
}

// ---------------------------------------------------------------------------
// Scanner states

enum State : int32_t {
    LINE_START,
    COMMENT,
    KEY,
    SEEK_EQUALS,
    VALUE_START,
    QUOTED_VALUE,
    BARE_VALUE,
    EMIT,
    SECTION_NAME,
    SECTION_END,
};

class Scanner {
  public:
    explicit Scanner(tovik_ctx *ctx)
        : ctx_(ctx), p_(reinterpret_cast<Byte>(ctx->cursor)), end_(p_ + ctx->remaining),
          state_(static_cast<State>(ctx->state)), token_(ctx->token), token_len_(ctx->token_len),
          value_start_(ctx->value_start), value_len_(ctx->value_len), section_(ctx->section),
          section_len_(ctx->section_len) {}

    // Runs the handler of the current state until the buffer is used up or a
    // handler ends the pass (a refused record), then writes the fields back.
    void run() {
        while (p_ != end_ && step()) {
        }
        store();
    }

  private:
    bool step() {
        switch (state_) {
        case LINE_START:
            return on_line_start();
        case COMMENT:
            return on_comment();
        case KEY:
            return on_key();
        case SEEK_EQUALS:
            return on_seek_equals();
        case VALUE_START:
            return on_value_start();
        case QUOTED_VALUE:
            return on_quoted_value();
        case BARE_VALUE:
            return on_bare_value();
        case EMIT:
            return on_emit();
        case SECTION_NAME:
            return on_section_name();
        case SECTION_END:
            return on_section_end();
        }
        return false;
    }

    // Moves the cursor to `to`; false when that used up the buffer, which
    // ends the pass in the state the handler is in.
    bool move(Byte to) {
        p_ = to;
        return p_ != end_;
    }

    bool enter(State next) {
        state_ = next;
        return true;
    }

    const char *cursor() const { return reinterpret_cast<const char *>(p_); }
    size_t passed_since(const char *start) const { return static_cast<size_t>(cursor() - start); }

    bool on_line_start() {
        if (!move(skip_over<BLANK>(p_, end_)))
            return false;
        switch (*p_) {
        case ';':
        case '#':
            return enter(COMMENT);
        case '[':
            return enter(SECTION_NAME);
        default:
            return enter(KEY);
        }
    }

    bool on_comment() { return move(skip_to<LINE_END>(p_, end_)) && enter(LINE_START); }

    // A key cut off by the end of the buffer keeps no length.
    bool on_key() {
        token_ = cursor();
        token_len_ = 0;
        if (!move(skip_to<NAME_END>(p_, end_)))
            return false;
        token_len_ = passed_since(token_);
        return enter(SEEK_EQUALS);
    }

    // The "=" may lie on a later line: everything up to it is passed over.
    // The state changes as soon as it is consumed, even as the last byte.
    bool on_seek_equals() {
        if (!move(skip_to_byte(p_, end_, '=')))
            return false;
        ++p_;
        return enter(VALUE_START);
    }

    bool begin_value(State next) {
        value_start_ = cursor();
        value_len_ = 0;
        return enter(next);
    }

    // The opening quote is consumed even as the last byte of the buffer; the
    // pass then ends in QUOTED_VALUE.
    bool on_value_start() {
        if (!move(skip_over<VALUE_BLANK>(p_, end_)))
            return false;
        if (is(*p_, LINE_END))
            return enter(LINE_START); // "k =" with nothing after it makes no record
        if (*p_ != '"')
            return begin_value(BARE_VALUE);
        ++p_;
        return begin_value(QUOTED_VALUE);
    }

    // Nothing is decoded: the value closes at the first quote preceded by an
    // even number of backslashes counted from the start of the value.
    bool on_quoted_value() {
        Byte start = reinterpret_cast<Byte>(value_start_);
        for (;;) {
            if (!move(skip_to_byte(p_, end_, '"')))
                return false;
            Byte quote = p_;
            while (quote != start && quote[-1] == '\\')
                --quote;
            if ((p_ - quote) % 2 == 0)
                break;
            if (!move(p_ + 1))
                return false;
        }
        value_len_ = passed_since(value_start_);
        return enter(EMIT);
    }

    // A bare value that runs to the end of the buffer ends there as though a
    // blank followed it, so the last line of a file without a final newline
    // is kept.
    bool on_bare_value() {
        bool more = move(skip_to<BLANK>(p_, end_));
        value_len_ = passed_since(value_start_);
        enter(EMIT);
        if (!more)
            emit_record(); // the pass ends here whether or not the block is granted
        return more;
    }

    bool on_emit() {
        return emit_record() && move(skip_to<LINE_END>(p_, end_)) && enter(LINE_START);
    }

    // Blanks after "[" and before the end of the name are not part of it;
    // blanks inside it are. A name cut off by the end of the buffer keeps no
    // length.
    bool on_section_name() {
        if (!move(p_ + 1) || !move(skip_over<VALUE_BLANK>(p_, end_)))
            return false;
        token_ = cursor();
        token_len_ = 0;
        if (!move(skip_to<HEADER_END>(p_, end_)))
            return false;
        size_t len = passed_since(token_);
        while (len != 0 && is(static_cast<unsigned char>(token_[len - 1]), VALUE_BLANK))
            --len;
        token_len_ = len;
        return enter(SECTION_END);
    }

    // The header takes effect at once; the rest of it up to "]" (across
    // lines) and then the rest of that line are passed over.
    bool on_section_end() {
        section_ = token_;
        section_len_ = token_len_ ? token_len_ + 1 : 0;
        return move(skip_to_byte(p_, end_, ']')) && move(skip_to<LINE_END>(p_ + 1, end_)) &&
               enter(LINE_START);
    }

    // Appends the record for the key and value in hand; false when its block
    // is refused (nothing is linked then). The allocate callback sees the
    // working fields of this record.
    bool emit_record() {
        // Section and key are disjoint parts of one buffer, so their sum fits.
        size_t name_len = section_len_ + token_len_;
        size_t size = sizeof(tovik_kv);
        if (!add_text_area(size, name_len) || !add_text_area(size, value_len_))
            return false;
        store();
        tovik_kv *kv = static_cast<tovik_kv *>(alloc_block(ctx_, size));
        if (!kv)
            return false;
        char *name = reinterpret_cast<char *>(kv + 1);
        char *key = name;
        if (section_len_ != 0) {
            memcpy(name, section_, section_len_ - 1);
            name[section_len_ - 1] = '.';
            key += section_len_;
        }
        store_text(key, token_, token_len_);
        kv->name = name;
        kv->name_len = name_len;
        kv->value = store_text(name + text_area(name_len), value_start_, value_len_);
        kv->value_len = value_len_;
        list_append(&ctx_->records, &kv->link);
        return true;
    }

    void store() const {
        ctx_->cursor = cursor();
        ctx_->remaining = static_cast<size_t>(end_ - p_);
        ctx_->state = state_;
        ctx_->token = token_;
        ctx_->token_len = token_len_;
        ctx_->value_start = value_start_;
        ctx_->value_len = value_len_;
        ctx_->section = section_;
        ctx_->section_len = section_len_;
    }

    tovik_ctx *ctx_;
    Byte p_;
    Byte end_;
    State state_;
    const char *token_;
    size_t token_len_;
    const char *value_start_;
    size_t value_len_;
    const char *section_;
    size_t section_len_;
};

} // namespace
