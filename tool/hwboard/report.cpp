#include "report.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The arena: blocks taken from malloc and kept to the end of the run, each
// one linked to the block before so that all of it stays reachable. Nodes
// are 8-byte multiples; texts are rounded up to them.
struct Block {
    Block *previous;
};

constexpr size_t kBlockSize = size_t{32} * 1024;
constexpr size_t kAlign = 8;

Block *arena = nullptr; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

size_t aligned(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// Room for `n` bytes at the arena's end, not yet taken.
inline char *arena_room(size_t n) {
    if (static_cast<size_t>(report_arena_end - report_arena_at) < n) {
        report_arena_grow(n);
    }
    return report_arena_at;
}

// Takes `n` bytes of the room just given.
inline void arena_commit(size_t n) { report_arena_at += aligned(n); }

inline void *arena_take(size_t n) {
    char *p = arena_room(n);
    arena_commit(n);
    return p;
}

// memcpy for the short texts of a report: the cells are mostly a few bytes,
// for which a call costs more than the copy.
inline void copy_bytes(char *to, const char *from, size_t n) {
    if (n >= 8 && n <= 16) {
        memcpy(to, from, 8);
        memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        memcpy(to, from, 4);
        memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) {
            to[i] = from[i];
        }
    } else {
        memcpy(to, from, n);
    }
}

const char *arena_copy(const char *text, size_t length) {
    char *copy = arena_room(length + 1);
    copy_bytes(copy, text, length);
    copy[length] = '\0';
    arena_commit(length + 1);
    return copy;
}

// Numbers, as printf would write them with %lld, 0x%0*llx and %.*f; each
// written from its last digit back.
size_t decimal(char *out, uint32_t n) {
    size_t count = 1;
    for (uint32_t rest = n / 10; rest != 0; rest /= 10) {
        ++count;
    }
    for (size_t i = count; i-- > 0; n /= 10) {
        out[i] = static_cast<char>('0' + n % 10);
    }
    return count;
}

size_t decimal(char *out, unsigned long long n) {
    if (n <= UINT32_MAX) {
        return decimal(out, static_cast<uint32_t>(n));
    }
    size_t count = 1;
    for (unsigned long long rest = n / 10; rest != 0; rest /= 10) {
        ++count;
    }
    for (size_t i = count; i-- > 0; n /= 10) {
        out[i] = static_cast<char>('0' + n % 10);
    }
    return count;
}

size_t format_integer(char *out, long long n) {
    if (n < 0) {
        out[0] = '-';
        return 1 + decimal(out + 1, 0ULL - static_cast<unsigned long long>(n));
    }
    return decimal(out, static_cast<unsigned long long>(n));
}

size_t format_hex(char *out, long long n, int digits) {
    auto u = static_cast<unsigned long long>(n);
    size_t count = 1;
    for (unsigned long long rest = u >> 4; rest != 0; rest >>= 4) {
        ++count;
    }
    // Leading zeros come out of the loop as the digits of a number run out.
    const size_t length =
        2 + (count > static_cast<size_t>(digits) ? count : static_cast<size_t>(digits));
    out[0] = '0';
    out[1] = 'x';
    for (size_t i = length; i-- > 2; u >>= 4) {
        out[i] = "0123456789abcdef"[u & 0xF];
    }
    return length;
}

size_t format_real(char *out, double x, int decimals) {
    // A float scaled by at most 10^6 is exact in a double, so rounding it to
    // an integer as the FPU does (to nearest, ties to even) is what printf
    // does with the exact value; adding and taking away 2^52 rounds so. Below
    // 2^31 the result converts to a 32-bit integer without a helper of the
    // compiler's runtime on 32-bit targets. Other numbers go to printf itself.
    static const double scales[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    static const uint32_t units[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    constexpr double kTwo52 = 4503599627370496.0;
    constexpr double kTwo31 = 2147483648.0;
    const double scaled = decimals >= 0 && decimals <= 6 ? std::fabs(x) * scales[decimals] : kTwo31;
    if (static_cast<double>(static_cast<float>(x)) != x || !(scaled < kTwo31)) {
        const int n = snprintf(out, Value::kNumberSize, "%.*f", decimals, x);
        return n < 0                                         ? 0
               : static_cast<size_t>(n) < Value::kNumberSize ? static_cast<size_t>(n)
                                                             : Value::kNumberSize - 1;
    }
    const auto whole = static_cast<uint32_t>(static_cast<int32_t>(scaled + kTwo52 - kTwo52));
    size_t length = 0;
    if (std::signbit(x)) {
        out[length++] = '-';
    }
    const uint32_t unit = units[decimals];
    length += decimal(out + length, whole / unit);
    if (decimals > 0) {
        out[length++] = '.';
        uint32_t fraction = whole % unit;
        for (int i = decimals - 1; i >= 0; --i) {
            out[length + static_cast<size_t>(i)] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        length += static_cast<size_t>(decimals);
    }
    return length;
}

} // namespace

char *report_arena_at = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
char *report_arena_end = nullptr; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// A new block with room for at least `n` bytes.
void report_arena_grow(size_t n) {
    const size_t head = aligned(sizeof(Block));
    const size_t size = n > kBlockSize - head ? head + aligned(n) : kBlockSize;
    auto *block = static_cast<Block *>(malloc(size));
    if (block == nullptr) {
        fputs("hwboard: out of memory\n", stderr);
        abort();
    }
    block->previous = arena;
    arena = block;
    report_arena_at = reinterpret_cast<char *>(block) + head;
    report_arena_end = reinterpret_cast<char *>(block) + size;
}

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

const Value *Value::find(const char *key) const {
    for (const Value *child = first_; child != nullptr; child = child->next_) {
        if (strcmp(child->key(), key) == 0) {
            return child;
        }
    }
    return nullptr;
}

const char *Value::table_text(char *buffer, size_t *length) const {
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

bool Value::json_number(char *buffer, size_t *length) const {
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
    void put(char c) {
        if (used_ == sizeof buffer_) {
            flush();
        }
        buffer_[used_++] = c;
    }
    void spaces(size_t count) {
        while (count > 0) {
            if (used_ == sizeof buffer_) {
                flush();
            }
            const size_t n = count < sizeof buffer_ - used_ ? count : sizeof buffer_ - used_;
            memset(buffer_ + used_, ' ', n);
            used_ += n;
            count -= n;
        }
    }
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
    void flush() {
        if (used_ > 0) {
            fwrite(buffer_, 1, used_, file_);
            used_ = 0;
        }
    }

private:
    FILE *file_;
    size_t used_ = 0;
    char buffer_[16384]; // filled before it is written out: left as it comes
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
    if (v.is_scalar()) {
        char number[Value::kNumberSize];
        size_t length = 0;
        if (v.json_number(number, &length)) {
            out.put(number, length);
        } else if (v.type() == Value::Type::Text) {
            json_string(out, v.text_value(), v.text_length());
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

struct Cell {
    const char *text;
    size_t length;
};

// The text of a cell, made at the arena's end: grows into a new block when
// the one it is in is full, and is taken from the arena when done.
class CellText {
public:
    CellText() : at_(arena_room(kStart)), start_(at_), end_(at_ + kStart) {}

    void put(const char *text, size_t length) {
        if (length > static_cast<size_t>(end_ - at_)) {
            grow(length);
        }
        copy_bytes(at_, text, length);
        at_ += length;
    }
    size_t length() const { return static_cast<size_t>(at_ - start_); }
    // Room for a number.
    char *number() {
        if (Value::kNumberSize > static_cast<size_t>(end_ - at_)) {
            grow(Value::kNumberSize);
        }
        return at_;
    }
    void advance(size_t length) { at_ += length; }
    Cell done() {
        const Cell cell{start_, length()};
        arena_commit(cell.length);
        return cell;
    }

private:
    static constexpr size_t kStart = 256;

    void grow(size_t more) {
        const size_t length = this->length();
        size_t size = 2 * static_cast<size_t>(end_ - start_);
        size = size < length + more ? length + more : size;
        // A block of its own: the text so far moves there.
        char *start = arena_room(size);
        if (start == start_) { // the room at the end was larger than asked for
            end_ = start_ + size;
            return;
        }
        memmove(start, start_, length);
        start_ = start;
        at_ = start + length;
        end_ = start + size;
    }

    char *at_;
    char *start_;
    char *end_;
};

// A cell of a table: a scalar as is, an object as its members "key=value"
// (nulls left out), an array as its elements joined by commas.
void cell_into(CellText &text, const Value &v) {
    if (v.is_scalar()) {
        size_t length = 0;
        char *number = text.number();
        const char *t = v.table_text(number, &length);
        if (t == number) {
            text.advance(length);
        } else {
            text.put(t, length);
        }
        return;
    }
    const bool object = v.type() == Value::Type::Object;
    const size_t start = text.length();
    for (const Value *child = v.first(); child != nullptr; child = child->next()) {
        if (!child->in_table() || (object && child->type() == Value::Type::Null)) {
            continue;
        }
        if (text.length() > start) {
            text.put(object ? " " : ",", 1);
        }
        if (object) {
            text.put(child->key(), strlen(child->key()));
            text.put("=", 1);
        }
        cell_into(text, *child);
    }
    if (text.length() == start) {
        text.put("-", 1);
    }
}

// The cell of `v`: a text or a word as it is kept, anything else written
// into the arena.
Cell cell_of(const Value &v) {
    if (v.type() == Value::Type::Text) {
        return Cell{v.text_value(), v.text_length()};
    }
    if (v.type() == Value::Type::Null) {
        return Cell{"-", 1};
    }
    if (v.is_scalar()) {
        Cell cell{arena_room(Value::kNumberSize), 0};
        cell.text = v.table_text(const_cast<char *>(cell.text), &cell.length);
        arena_commit(cell.length);
        return cell;
    }
    CellText text;
    cell_into(text, v);
    return text.done();
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
        copy_bytes(line + at, cells[c].text, cells[c].length);
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
        size_t members = 0;
        for (const Value *member = row->first(); member != nullptr; member = member->next()) {
            ++members;
        }
        member_count = members > member_count ? members : member_count;
    }
    // No more columns than the members of all rows; the first rows' keys
    // mostly make all of them. Grown as needed.
    size_t column_room = member_count + 8;
    auto *columns = static_cast<const char **>(arena_take(sizeof(char *) * column_room));
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
            if (c >= 0) {
                at = static_cast<size_t>(c) + 1;
                continue;
            }
            if (column_count == column_room) {
                auto *more =
                    static_cast<const char **>(arena_take(sizeof(char *) * 2 * column_room));
                memcpy(static_cast<void *>(more), static_cast<const void *>(columns),
                       sizeof(char *) * column_count);
                columns = more;
                column_room *= 2;
            }
            columns[column_count++] = member->key();
            at = column_count;
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
    Cell *cell = cells + column_count;
    for (const Value *row = rows.first(); row != nullptr; row = row->next(), cell += column_count) {
        for (size_t c = 0; c < column_count; ++c) {
            cell[c] = Cell{nullptr, 0};
        }
        size_t at = 0;
        for (const Value *member = row->first(); member != nullptr; member = member->next()) {
            const long found = at < column_count && columns[at] == member->key()
                                   ? static_cast<long>(at)
                                   : column_of(columns, column_count, member->key());
            if (found < 0 || cell[found].text != nullptr) {
                continue;
            }
            const auto c = static_cast<size_t>(found);
            at = c + 1;
            cell[c] = cell_of(*member);
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
        const Cell cell = child->type() == Value::Type::Array && child->empty() ? Cell{"none", 4}
                                                                                : cell_of(*child);
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
        const Cell cell = cell_of(v);
        o.put(cell.text, cell.length);
        o.put('\n');
    }
}
