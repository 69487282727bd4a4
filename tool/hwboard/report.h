// What a command of hwboard answers: a tree of values, written either as JSON
// or as the readable table, by the two writers below and nothing else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class Value {
public:
    enum class Type { Null, Bool, Int, Real, Text, Object, Array };

    Value() = default;
    static Value null() { return {}; }
    static Value boolean(bool b);
    static Value integer(long long n);
    // An integer the table shows in hexadecimal with at least `digits` digits;
    // JSON has it as a plain number.
    static Value hex(long long n, int digits = 2);
    // A real number with `decimals` digits after the point; NaN and the
    // infinities are null.
    static Value real(double x, int decimals = 3);
    static Value text(const std::string &s);
    static Value object();
    static Value array();

    // Adds a member to an object, an element to an array; the reference
    // stays valid until the next add to the same container.
    Value &add(const char *key, Value v);
    Value &push(Value v);

    // Leaves the value out of the table; JSON still has it.
    Value &json_only() {
        in_table_ = false;
        return *this;
    }
    bool in_table() const { return in_table_; }

    Type type() const { return type_; }
    bool is_scalar() const { return type_ != Type::Object && type_ != Type::Array; }
    const std::string &key() const { return key_; }
    const std::vector<Value> &children() const { return children_; }
    const Value *find(const char *key) const;

    // The scalar as the table shows it: "-" for null, yes/no, numbers, text.
    std::string table_text() const;
    // The scalar as JSON has it.
    std::string json_text() const;

private:
    Type type_ = Type::Null;
    std::string key_;
    long long integer_ = 0;
    int digits_ = 0; // hex digits of an integer (0: decimal), decimals of a real
    double real_ = 0;
    std::string text_;
    bool in_table_ = true;
    std::vector<Value> children_;
};

// JSON: two-space indentation, members in the order added, one newline at the end.
void write_json(FILE *out, const Value &v);
// The readable form (see the manual page): scalars as aligned "key  value"
// lines, nested objects as indented sections, arrays of objects as tables.
void write_table(FILE *out, const Value &v);
// The text as a JSON string, quotes included.
std::string json_string(const std::string &s);
