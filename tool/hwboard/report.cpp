#include "report.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The arena: blocks taken from malloc and kept to the end of the run, each
// one linked to the block before so that all of it stays reachable.
struct Block {
    Block *previous;
    size_t size;
    size_t used;
};

constexpr size_t kBlockSize = 32 * 1024;
constexpr size_t kAlign = alignof(long double) > 8 ? alignof(long double) : 8;

Block *arena = nullptr; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

size_t aligned(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

__attribute__((noinline)) void arena_grow(size_t n) {
    const size_t size = n > kBlockSize - aligned(sizeof(Block)) ? n : kBlockSize;
    auto *block = static_cast<Block *>(malloc(aligned(sizeof(Block)) + size));
    if (block == nullptr) {
        fputs("hwboard: out of memory\n", stderr);
        abort();
    }
    block->previous = arena;
    block->size = size;
    block->used = 0;
    arena = block;
}

__attribute__((always_inline)) inline void *arena_take(size_t n) {
    n = aligned(n);
    if (arena == nullptr || arena->size - arena->used < n) {
        arena_grow(n);
    }
    void *p = reinterpret_cast<char *>(arena) + aligned(sizeof(Block)) + arena->used;
    arena->used += n;
    return p;
}

const char *arena_copy(const char *text, size_t length) {
    auto *copy = static_cast<char *>(arena_take(length + 1));
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

// Numbers, as printf would write them with %lld, 0x%0*llx and %.*f.
size_t decimal(char *out, unsigned long long n) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    for (size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

size_t format_integer(char (&out)[32], long long n) {
    if (n < 0) {
        out[0] = '-';
        return 1 + decimal(out + 1, 0ULL - static_cast<unsigned long long>(n));
    }
    return decimal(out, static_cast<unsigned long long>(n));
}

size_t format_hex(char (&out)[32], long long n, int digits) {
    auto u = static_cast<unsigned long long>(n);
    char reversed[16];
    int count = 0;
    do {
        reversed[count++] = "0123456789abcdef"[u & 0xF];
        u >>= 4;
    } while (u != 0);
    size_t length = 0;
    out[length++] = '0';
    out[length++] = 'x';
    for (int i = count; i < digits; ++i) {
        out[length++] = '0';
    }
    while (count > 0) {
        out[length++] = reversed[--count];
    }
    return length;
}

size_t format_real(char (&out)[32], double x, int decimals) {
    // A float scaled by at most 10^6 is exact in a double, so rounding it to
    // an integer as the FPU does (to nearest, ties to even) is what printf
    // does with the exact value. Other numbers go to printf itself.
    static const double scales[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    static const unsigned long long units[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    const double scaled = decimals >= 0 && decimals <= 6 ? x * scales[decimals] : 0;
    if (decimals < 0 || decimals > 6 || static_cast<double>(static_cast<float>(x)) != x ||
        std::fabs(scaled) >= 9.0e15) {
        const int n = snprintf(out, sizeof out, "%.*f", decimals, x);
        return n < 0                                 ? 0
               : static_cast<size_t>(n) < sizeof out ? static_cast<size_t>(n)
                                                     : sizeof out - 1;
    }
    const auto whole = static_cast<unsigned long long>(std::fabs(std::nearbyint(scaled)));
    size_t length = 0;
    if (std::signbit(x)) {
        out[length++] = '-';
    }
    length += decimal(out + length, whole / units[decimals]);
    if (decimals > 0) {
        out[length++] = '.';
        unsigned long long fraction = whole % units[decimals];
        for (int i = decimals - 1; i >= 0; --i) {
            out[length + static_cast<size_t>(i)] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        length += static_cast<size_t>(decimals);
    }
    return length;
}

} // namespace

Value Value::real(double x, int decimals) {
    Value v;
    if (std::isfinite(x)) {
        v.type_ = Type::Real;
        v.digits_ = static_cast<int8_t>(decimals < 0 ? 0 : decimals > 20 ? 20 : decimals);
        v.real_ = x;
    }
    return v;
}

Value Value::text(const char *s) { return text(s, strlen(s)); }

Value Value::word(const char *s) {
    Value v;
    v.type_ = Type::Text;
    v.length_ = static_cast<uint32_t>(strlen(s));
    v.text_ = s;
    return v;
}

Value Value::text(const char *s, size_t size) {
    Value v;
    v.type_ = Type::Text;
    v.length_ = static_cast<uint32_t>(strnlen(s, size));
    v.text_ = arena_copy(s, v.length_);
    return v;
}

Value &Value::add(const char *key, const Value &v) {
    Value &child = push(v);
    child.key_ = key;
    return child;
}

Value &Value::push(const Value &v) {
    auto *child = static_cast<Value *>(arena_take(sizeof(Value)));
    *child = v;
    child->next_ = nullptr;
    (last_ != nullptr ? last_->next_ : first_) = child;
    last_ = child;
    return *child;
}

const Value *Value::find(const char *key) const {
    for (const Value *child = first_; child != nullptr; child = child->next_) {
        if (strcmp(child->key(), key) == 0) {
            return child;
        }
    }
    return nullptr;
}

const char *Value::table_text(char (&buffer)[32], size_t *length) const {
    switch (type_) {
    case Type::Bool:
        *length = integer_ != 0 ? 3 : 2;
        return integer_ != 0 ? "yes" : "no";
    case Type::Int:
        *length =
            digits_ > 0 ? format_hex(buffer, integer_, digits_) : format_integer(buffer, integer_);
        return buffer;
    case Type::Real:
        *length = format_real(buffer, real_, digits_);
        return buffer;
    case Type::Text:
        *length = length_;
        return text_;
    default:
        *length = 1;
        return "-";
    }
}

bool Value::json_number(char (&buffer)[32], size_t *length) const {
    switch (type_) {
    case Type::Bool:
        *length = integer_ != 0 ? 4 : 5;
        memcpy(buffer, integer_ != 0 ? "true" : "false", *length);
        return true;
    case Type::Int:
        *length = format_integer(buffer, integer_);
        return true;
    case Type::Real:
        *length = format_real(buffer, real_, digits_);
        return true;
    default:
        return false;
    }
}

namespace {

// Standard output through one buffer, written out with fwrite when full and
// at the end.
class Out {
public:
    explicit Out(FILE *file) : file_(file) {}
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;
    ~Out() { flush(); }

    void put(const char *text, size_t length) {
        if (length > sizeof buffer_ - used_) {
            flush();
            if (length > sizeof buffer_) {
                fwrite(text, 1, length, file_);
                return;
            }
        }
        memcpy(buffer_ + used_, text, length);
        used_ += length;
    }
    void put(const char *text) { put(text, strlen(text)); }
    // Room for `length` bytes at the end of the buffer, to be filled at once;
    // null when they do not fit in it.
    char *reserve(size_t length) {
        if (length > sizeof buffer_ - used_) {
            flush();
            if (length > sizeof buffer_) {
                return nullptr;
            }
        }
        char *room = buffer_ + used_;
        used_ += length;
        return room;
    }
    void put(char c) {
        if (used_ == sizeof buffer_) {
            flush();
        }
        buffer_[used_++] = c;
    }
    void spaces(size_t count) {
        static const char blanks[] = "                                ";
        while (count > 0) {
            const size_t n = count < sizeof blanks - 1 ? count : sizeof blanks - 1;
            put(blanks, n);
            count -= n;
        }
    }
    void flush() {
        if (used_ > 0) {
            fwrite(buffer_, 1, used_, file_);
            used_ = 0;
        }
    }

private:
    FILE *file_;
    size_t used_ = 0;
    char buffer_[8192] = {};
};

// The text as a JSON string, quotes included. Bytes beyond ASCII are not
// taken as UTF-8: the board's texts are single bytes, each one kept as the
// code point of its value.
void json_string(Out &out, const char *text, size_t length) {
    out.put('"');
    size_t plain = 0; // bytes from `text` on that need no escape
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool escape = byte == '"' || byte == '\\' || byte < 0x20 || byte >= 0x7F;
        if (!escape) {
            continue;
        }
        out.put(text + plain, i - plain);
        plain = i + 1;
        if (byte == '"' || byte == '\\') {
            out.put('\\');
            out.put(static_cast<char>(byte));
        } else if (byte == '\n') {
            out.put("\\n", 2);
        } else if (byte == '\t') {
            out.put("\\t", 2);
        } else {
            char code[8];
            snprintf(code, sizeof code, "\\u%04x", byte);
            out.put(code, 6);
        }
    }
    out.put(text + plain, length - plain);
    out.put('"');
}

void json_value(Out &out, const Value &v, int depth) {
    char number[32];
    size_t length = 0;
    if (v.is_scalar()) {
        if (v.json_number(number, &length)) {
            out.put(number, length);
        } else if (v.type() == Value::Type::Text) {
            v.table_text(number, &length);
            json_string(out, v.text_value(), length);
        } else {
            out.put("null", 4);
        }
        return;
    }
    const bool object = v.type() == Value::Type::Object;
    if (v.empty()) {
        out.put(object ? "{}" : "[]", 2);
        return;
    }
    out.put(object ? '{' : '[');
    for (const Value *child = v.first(); child != nullptr; child = child->next()) {
        if (child != v.first()) {
            out.put(',');
        }
        out.put('\n');
        out.spaces(2 * static_cast<size_t>(depth + 1));
        if (object) {
            json_string(out, child->key(), strlen(child->key()));
            out.put(": ", 2);
        }
        json_value(out, *child, depth + 1);
    }
    out.put('\n');
    out.spaces(2 * static_cast<size_t>(depth));
    out.put(object ? '}' : ']');
}

// A growing text for the cells of nested values; its bytes are copied into
// the arena once the cell is complete.
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() { free(data_); }

    void put(const char *text, size_t length) {
        if (used_ + length > size_) {
            size_t size = size_ == 0 ? 256 : size_;
            while (used_ + length > size) {
                size *= 2;
            }
            auto *data = static_cast<char *>(realloc(data_, size));
            if (data == nullptr) {
                fputs("hwboard: out of memory\n", stderr);
                abort();
            }
            data_ = data;
            size_ = size;
        }
        memcpy(data_ + used_, text, length);
        used_ += length;
    }
    size_t used() const { return used_; }
    const char *data() const { return data_; }
    void clear() { used_ = 0; }

private:
    char *data_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;
};

// A cell of a table: a scalar as is, an object as its members "key=value"
// (nulls left out), an array as its elements joined by commas.
void cell_into(Scratch &text, const Value &v) {
    char number[32];
    size_t length = 0;
    if (v.is_scalar()) {
        const char *t = v.table_text(number, &length);
        text.put(t, length);
        return;
    }
    const bool object = v.type() == Value::Type::Object;
    const size_t start = text.used();
    for (const Value *child = v.first(); child != nullptr; child = child->next()) {
        if (!child->in_table() || (object && child->type() == Value::Type::Null)) {
            continue;
        }
        if (text.used() > start) {
            text.put(object ? " " : ",", 1);
        }
        if (object) {
            text.put(child->key(), strlen(child->key()));
            text.put("=", 1);
        }
        cell_into(text, *child);
    }
    if (text.used() == start) {
        text.put("-", 1);
    }
}

struct Cell {
    const char *text;
    size_t length;
};

// The cell of `v`; a scalar's text in `number` or its own, a nested value's
// in the arena.
Cell cell_of(const Value &v, char (&number)[32], Scratch &scratch) {
    Cell cell{nullptr, 0};
    if (v.is_scalar()) {
        cell.text = v.table_text(number, &cell.length);
        return cell;
    }
    scratch.clear();
    cell_into(scratch, v);
    cell.length = scratch.used();
    cell.text = arena_copy(scratch.data(), cell.length);
    return cell;
}

bool is_table(const Value &v) {
    return v.type() == Value::Type::Array && !v.empty() && v.first()->type() == Value::Type::Object;
}

// The column of `key` among `count` columns, -1 when there is none. Keys
// are mostly the same literal in every row: pointers are compared first.
long column_of(const char *const *columns, size_t count, const char *key) {
    for (size_t c = 0; c < count; ++c) {
        if (columns[c] == key) {
            return static_cast<long>(c);
        }
    }
    for (size_t c = 0; c < count; ++c) {
        if (columns[c][0] == key[0] && strcmp(columns[c], key) == 0) {
            return static_cast<long>(c);
        }
    }
    return -1;
}

// One line of a table: the cells padded to their column's width and two
// blanks apart, the last one as is.
void table_line(Out &out, size_t indent, const Cell *cells, const size_t *widths, size_t count) {
    size_t length = indent;
    for (size_t c = 0; c + 1 < count; ++c) {
        length += widths[c] + 2;
    }
    length += cells[count - 1].length + 1;
    char *line = out.reserve(length);
    if (line == nullptr) { // longer than the whole buffer
        out.spaces(indent);
        for (size_t c = 0; c < count; ++c) {
            out.put(cells[c].text, cells[c].length);
            if (c + 1 < count) {
                out.spaces(widths[c] - cells[c].length + 2);
            }
        }
        out.put('\n');
        return;
    }
    memset(line, ' ', length - 1);
    size_t at = indent;
    for (size_t c = 0; c < count; ++c) {
        memcpy(line + at, cells[c].text, cells[c].length);
        at += widths[c] + 2;
    }
    line[length - 1] = '\n';
}

// Columns: every key of every row, in the order first met.
void table(Out &out, const Value &rows, size_t indent) {
    size_t row_count = 0;
    size_t member_count = 0;
    for (const Value *row = rows.first(); row != nullptr; row = row->next()) {
        ++row_count;
        for (const Value *member = row->first(); member != nullptr; member = member->next()) {
            ++member_count;
        }
    }
    auto *columns = static_cast<const char **>(arena_take(sizeof(char *) * (member_count + 1)));
    size_t column_count = 0;
    for (const Value *row = rows.first(); row != nullptr; row = row->next()) {
        size_t at = 0; // where the next member's column is, if the rows agree
        for (const Value *member = row->first(); member != nullptr; member = member->next()) {
            if (!member->in_table()) {
                continue;
            }
            if (at < column_count && columns[at] == member->key()) {
                ++at;
                continue;
            }
            const long c = column_of(columns, column_count, member->key());
            if (c < 0) {
                columns[column_count++] = member->key();
                at = column_count;
            } else {
                at = static_cast<size_t>(c) + 1;
            }
        }
    }
    if (column_count == 0) {
        for (size_t r = 0; r <= row_count; ++r) {
            out.spaces(indent); // rows without cells, and so without a line end
        }
        return;
    }
    // Row 0 is the heading.
    auto *cells = static_cast<Cell *>(arena_take(sizeof(Cell) * (row_count + 1) * column_count));
    auto *widths = static_cast<size_t *>(arena_take(sizeof(size_t) * column_count));
    for (size_t c = 0; c < column_count; ++c) {
        cells[c] = Cell{columns[c], strlen(columns[c])};
        widths[c] = cells[c].length;
    }
    Scratch scratch;
    Cell *cell = cells + column_count;
    for (const Value *row = rows.first(); row != nullptr; row = row->next(), cell += column_count) {
        for (size_t c = 0; c < column_count; ++c) {
            cell[c] = Cell{nullptr, 0};
        }
        size_t at = 0;
        for (const Value *member = row->first(); member != nullptr; member = member->next()) {
            long found = at < column_count && columns[at] == member->key()
                             ? static_cast<long>(at)
                             : column_of(columns, column_count, member->key());
            if (found < 0 || cell[found].text != nullptr) {
                continue;
            }
            const auto c = static_cast<size_t>(found);
            at = c + 1;
            char number[32];
            cell[c] = cell_of(*member, number, scratch);
            if (cell[c].text == number) {
                cell[c].text = arena_copy(number, cell[c].length);
            }
        }
        for (size_t c = 0; c < column_count; ++c) {
            if (cell[c].text == nullptr) {
                cell[c] = Cell{"-", 1};
            }
            widths[c] = cell[c].length > widths[c] ? cell[c].length : widths[c];
        }
    }
    cell = cells;
    for (size_t r = 0; r <= row_count; ++r, cell += column_count) {
        table_line(out, indent, cell, widths, column_count);
    }
}

void section(Out &out, const Value &v, size_t indent) {
    size_t width = 0;
    for (const Value *child = v.first(); child != nullptr; child = child->next()) {
        const size_t length = child->in_table() ? strlen(child->key()) : 0;
        width = length > width ? length : width;
    }
    Scratch scratch;
    for (const Value *child = v.first(); child != nullptr; child = child->next()) {
        if (!child->in_table()) {
            continue;
        }
        const size_t key_length = strlen(child->key());
        if ((child->type() == Value::Type::Object && !child->empty()) || is_table(*child)) {
            out.spaces(indent);
            out.put(child->key(), key_length);
            out.put(":\n", 2);
            if (child->type() == Value::Type::Object) {
                section(out, *child, indent + 2);
            } else {
                table(out, *child, indent + 2);
            }
            continue;
        }
        char number[32];
        const Cell cell = child->type() == Value::Type::Array && child->empty()
                              ? Cell{"none", 4}
                              : cell_of(*child, number, scratch);
        out.spaces(indent);
        out.put(child->key(), key_length);
        out.spaces(width - key_length + 2);
        out.put(cell.text, cell.length);
        out.put('\n');
    }
}

} // namespace

void write_json(FILE *out, const Value &v) {
    Out o(out);
    json_value(o, v, 0);
    o.put('\n');
}

void write_table(FILE *out, const Value &v) {
    Out o(out);
    if (is_table(v)) {
        table(o, v, 0);
    } else if (v.type() == Value::Type::Object) {
        section(o, v, 0);
    } else {
        Scratch scratch;
        char number[32];
        const Cell cell = cell_of(v, number, scratch);
        o.put(cell.text, cell.length);
        o.put('\n');
    }
}
