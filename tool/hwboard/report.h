// What a command of hwboard answers: a tree of values, written either as JSON
// or as the readable table, by the two writers below and nothing else.
//
// The tree lives in one arena for the whole run: a node, its texts and the
// cells the table writer makes are taken from it and never given back one by
// one, so that a report costs no allocation per value and hwboard needs
// nothing of the C++ runtime's library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The arena's free room: [report_arena_at, report_arena_end). The adds below
// take their node from it inline; report_arena_grow gives a new block.
extern char *report_arena_at;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
extern char *report_arena_end; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
void report_arena_grow(size_t n);

class Value {
public:
    enum class Type : uint8_t { Null, Bool, Int, Real, Text, Object, Array };

    Value() = default;
    static Value null() { return {}; }
    static Value boolean(bool b) { return scalar(Type::Bool, b ? 1 : 0, 0); }
    static Value integer(long long n) { return scalar(Type::Int, n, 0); }
    // An integer the table shows in hexadecimal with at least `digits` digits;
    // JSON has it as a plain number.
    static Value hex(long long n, int digits = 2) {
        return scalar(Type::Int, n, digits < 0 ? 0 : digits > 16 ? 16 : digits);
    }
    // A real number with `decimals` digits after the point; NaN and the
    // infinities are null.
    static Value real(double x, int decimals = 3);
    // A copy of the text.
    static Value text(const char *s);
    // A copy of a text field that may fill its `size` bytes without a 0.
    static Value text(const char *s, size_t size);
    // A text that lives as long as the run (a literal, a static table's), not copied.
    static Value word(const char *s);
    static Value object() { return scalar(Type::Object, 0, 0); }
    static Value array() { return scalar(Type::Array, 0, 0); }

    // Adds a member to an object, an element to an array; the reference stays
    // valid for the whole run. `key` is not copied: a literal or a text of a
    // static table.
    Value &add(const char *key, const Value &v) {
        Value &child = push(v);
        child.key_ = key;
        return child;
    }
    Value &push(const Value &v) {
        if (static_cast<size_t>(report_arena_end - report_arena_at) < sizeof(Value)) {
            report_arena_grow(sizeof(Value));
        }
        auto *child = reinterpret_cast<Value *>(report_arena_at);
        report_arena_at += sizeof(Value);
        *child = v;
        child->next_ = nullptr;
        (last_ != nullptr ? last_->next_ : first_) = child;
        last_ = child;
        return *child;
    }

    // Leaves the value out of the table; JSON still has it.
    Value &json_only() {
        in_table_ = false;
        return *this;
    }
    bool in_table() const { return in_table_; }

    Type type() const { return type_; }
    bool is_scalar() const { return type_ != Type::Object && type_ != Type::Array; }
    const char *key() const { return key_ != nullptr ? key_ : ""; }
    // The members or elements in the order added: the first, then each one's next.
    const Value *first() const { return first_; }
    const Value *next() const { return next_; }
    bool empty() const { return first_ == nullptr; }
    const Value *find(const char *key) const;

    // Room for a number as either writer writes it.
    static constexpr size_t kNumberSize = 64;
    // The scalar as the table shows it ("-" for null, yes/no, numbers, the
    // text): a number is written into `buffer` (kNumberSize bytes), other
    // scalars are given as they are kept. `*length` is the text's length.
    const char *table_text(char *buffer, size_t *length) const;
    // The number as JSON has it, in `buffer` (kNumberSize bytes): true for
    // Bool, Int and Real.
    bool json_number(char *buffer, size_t *length) const;
    // A Text's bytes and their count.
    const char *text_value() const { return text_; }
    size_t text_length() const { return length_; }

private:
    static Value scalar(Type type, long long n, int digits) {
        Value v;
        v.type_ = type;
        v.digits_ = static_cast<int8_t>(digits);
        v.integer_ = n;
        return v;
    }

    Type type_ = Type::Null;
    bool in_table_ = true;
    int8_t digits_ = 0;   // hex digits of an integer (0: decimal), decimals of a real
    uint32_t length_ = 0; // of the text
    const char *key_ = nullptr;
    union {
        long long integer_ = 0; // also a Bool's 0 or 1
        double real_;
        const char *text_;
    };
    Value *first_ = nullptr;
    Value *last_ = nullptr;
    Value *next_ = nullptr;
};

// JSON: two-space indentation, members in the order added, one newline at the end.
void write_json(FILE *out, const Value &v);
// The readable form (see the manual page): scalars as aligned "key  value"
// lines, nested objects as indented sections, arrays of objects as tables.
void write_table(FILE *out, const Value &v);
