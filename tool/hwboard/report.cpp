#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>

Value Value::boolean(bool b) {
    Value v;
    v.type_ = Type::Bool;
    v.integer_ = b ? 1 : 0;
    return v;
}

Value Value::integer(long long n) {
    Value v;
    v.type_ = Type::Int;
    v.integer_ = n;
    return v;
}

Value Value::hex(long long n, int digits) {
    Value v = integer(n);
    v.digits_ = digits;
    return v;
}

Value Value::real(double x, int decimals) {
    Value v;
    if (std::isfinite(x)) {
        v.type_ = Type::Real;
        v.real_ = x;
        v.digits_ = decimals;
    }
    return v;
}

Value Value::text(const std::string &s) {
    Value v;
    v.type_ = Type::Text;
    v.text_ = s;
    return v;
}

Value Value::object() {
    Value v;
    v.type_ = Type::Object;
    return v;
}

Value Value::array() {
    Value v;
    v.type_ = Type::Array;
    return v;
}

Value &Value::add(const char *key, Value v) {
    v.key_ = key;
    children_.push_back(std::move(v));
    return children_.back();
}

Value &Value::push(Value v) {
    children_.push_back(std::move(v));
    return children_.back();
}

const Value *Value::find(const char *key) const {
    for (const Value &child : children_) {
        if (child.key_ == key) {
            return &child;
        }
    }
    return nullptr;
}

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *fmt, ...) {
    char buffer[64];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    return buffer;
}

} // namespace

std::string Value::table_text() const {
    switch (type_) {
    case Type::Bool:
        return integer_ != 0 ? "yes" : "no";
    case Type::Int:
        return digits_ > 0 ? format("0x%0*llx", digits_, integer_) : format("%lld", integer_);
    case Type::Real:
        return format("%.*f", digits_, real_);
    case Type::Text:
        return text_;
    default:
        return "-";
    }
}

std::string Value::json_text() const {
    switch (type_) {
    case Type::Bool:
        return integer_ != 0 ? "true" : "false";
    case Type::Int:
        return format("%lld", integer_);
    case Type::Real:
        return format("%.*f", digits_, real_);
    case Type::Text:
        return json_string(text_);
    default:
        return "null";
    }
}

std::string json_string(const std::string &s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7F) {
            // Bytes beyond ASCII are not taken as UTF-8: the board's texts are
            // single bytes, each one kept as the code point of its value.
            out += format("\\u%04x", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

void json_value(FILE *out, const Value &v, int depth) {
    if (v.is_scalar()) {
        fputs(v.json_text().c_str(), out);
        return;
    }
    const bool object = v.type() == Value::Type::Object;
    if (v.children().empty()) {
        fputs(object ? "{}" : "[]", out);
        return;
    }
    fputc(object ? '{' : '[', out);
    bool first = true;
    for (const Value &child : v.children()) {
        fprintf(out, "%s\n%*s", first ? "" : ",", 2 * (depth + 1), "");
        if (object) {
            fprintf(out, "%s: ", json_string(child.key()).c_str());
        }
        json_value(out, child, depth + 1);
        first = false;
    }
    fprintf(out, "\n%*s%c", 2 * depth, "", object ? '}' : ']');
}

// A cell of a table: a scalar as is, an object as its members "key=value"
// (nulls left out), an array as its elements joined by commas.
std::string cell_text(const Value &v) {
    if (v.is_scalar()) {
        return v.table_text();
    }
    std::string text;
    for (const Value &child : v.children()) {
        if (!child.in_table() ||
            (v.type() == Value::Type::Object && child.type() == Value::Type::Null)) {
            continue;
        }
        text += text.empty() ? "" : (v.type() == Value::Type::Object ? " " : ",");
        text += v.type() == Value::Type::Object ? child.key() + "=" + cell_text(child)
                                                : cell_text(child);
    }
    return text.empty() ? "-" : text;
}

bool is_table(const Value &v) {
    return v.type() == Value::Type::Array && !v.children().empty() &&
           v.children().front().type() == Value::Type::Object;
}

void print_row(FILE *out, int indent, const std::vector<std::string> &cells,
               const std::vector<size_t> &widths) {
    fprintf(out, "%*s", indent, "");
    for (size_t i = 0; i < cells.size(); ++i) {
        const bool last = i + 1 == cells.size();
        fprintf(out, "%-*s%s", last ? 0 : static_cast<int>(widths[i]), cells[i].c_str(),
                last ? "\n" : "  ");
    }
}

// Columns: every key of every row, in the order first met.
void table(FILE *out, const Value &rows, int indent) {
    std::vector<std::string> columns;
    for (const Value &row : rows.children()) {
        for (const Value &member : row.children()) {
            if (member.in_table() &&
                std::find(columns.begin(), columns.end(), member.key()) == columns.end()) {
                columns.push_back(member.key());
            }
        }
    }
    std::vector<std::vector<std::string>> lines{columns};
    for (const Value &row : rows.children()) {
        std::vector<std::string> cells;
        for (const std::string &column : columns) {
            const Value *member = row.find(column.c_str());
            cells.push_back(member != nullptr ? cell_text(*member) : "-");
        }
        lines.push_back(cells);
    }
    std::vector<size_t> widths(columns.size(), 0);
    for (const auto &line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            widths[i] = std::max(widths[i], line[i].size());
        }
    }
    for (const auto &line : lines) {
        print_row(out, indent, line, widths);
    }
}

void section(FILE *out, const Value &v, int indent) {
    size_t width = 0;
    for (const Value &child : v.children()) {
        width = std::max(width, child.in_table() ? child.key().size() : 0);
    }
    for (const Value &child : v.children()) {
        if (!child.in_table()) {
            continue;
        }
        if (child.type() == Value::Type::Object && !child.children().empty()) {
            fprintf(out, "%*s%s:\n", indent, "", child.key().c_str());
            section(out, child, indent + 2);
        } else if (is_table(child)) {
            fprintf(out, "%*s%s:\n", indent, "", child.key().c_str());
            table(out, child, indent + 2);
        } else {
            const std::string text = child.type() == Value::Type::Array && child.children().empty()
                                         ? "none"
                                         : cell_text(child);
            fprintf(out, "%*s%-*s  %s\n", indent, "", static_cast<int>(width), child.key().c_str(),
                    text.c_str());
        }
    }
}

} // namespace

void write_json(FILE *out, const Value &v) {
    json_value(out, v, 0);
    fputc('\n', out);
}

void write_table(FILE *out, const Value &v) {
    if (is_table(v)) {
        table(out, v, 0);
    } else if (v.type() == Value::Type::Object) {
        section(out, v, 0);
    } else {
        fprintf(out, "%s\n", cell_text(v).c_str());
    }
}
