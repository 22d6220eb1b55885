#include "markup/markup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

MarkupDocumentRecord MarkupDocument;
ErrorListRecord ErrorList;

namespace {

constexpr int kResultStructure = 1;
constexpr int kResultNoRoom = 2;  // token too long, or the table or pool full

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Upper-cases the run of letters at the start of name in place and ends the
// string at the first character after it; its length.
int cut_name(char* name) {
    int length = 0;
    while (is_name_letter(static_cast<signed char>(name[length]))) {
        name[length] = upper(name[length]);
        ++length;
    }
    name[length] = '\0';
    return length;
}

// Appends one node; the caller has checked that the table has room.
void append_node(uint8_t id, const char* text) {
    MarkupNode& node = MarkupDocument.nodes[MarkupDocument.node_count];
    node.id = id;
    node.parent = static_cast<uint8_t>(MarkupDocument.current);
    node.text = text;
    ++MarkupDocument.node_count;
}

bool table_full() { return MarkupDocument.node_count >= MARKUP_NODE_LIMIT; }

// Says which limit a parse ran into and on which line. A token is checked
// as it grows; the table is checked before the pool, so a full table is
// what stopped the parse whenever it is full.
void push_limit(bool token_too_long, uint32_t line) {
    if (token_too_long)
        error_push("a run of over %i characters on line %u\n", MARKUP_TOKEN_LIMIT, line);
    else if (table_full())
        error_push("more than %u elements and texts on line %u\n", MARKUP_NODE_LIMIT, line);
    else
        error_push("names and texts over %u bytes on line %u\n", MARKUP_POOL_SIZE, line);
}

// Why a file that opened could not be read whole, for the message.
void push_read_failure(const char* path, int error) {
    if (error == EISDIR)
        error_push("fread(..) failure?? `%s` is a folder", path);
    else
        error_push("fread(..) failure?? `%s`: %s", path, std::strerror(error));
}

}  // namespace

void markup_reset() {
    MarkupDocument.node_count = 0;
    MarkupDocument.pool_length = 0;
    MarkupDocument.current = 0;
}

int markup_length(const char* s) {
    int n = 0;
    while (n < MARKUP_LENGTH_LIMIT && s[n] != '\0') ++n;
    return n;
}

bool is_name_letter(signed char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int markup_trim(char* token) {
    int n = markup_length(token);
    while (n > 0 && is_blank(token[n - 1])) token[--n] = '\0';
    while (n > 0 && is_blank(token[0])) {
        // Moves the terminator too (or, past 255 characters, the next one).
        std::memmove(token, token + 1, static_cast<size_t>(n));
        --n;
    }
    return n;
}

const char* markup_intern(const char* s) {
    char* pool = MarkupDocument.pool;
    uint32_t used = MarkupDocument.pool_length;
    if (used > MARKUP_POOL_SIZE) return nullptr;  // a damaged document: trust nothing in it
    // Every stored string ends inside the used part, so strcmp stays in it.
    for (uint32_t at = 0; at < used;) {
        const char* stored = pool + at;
        if (std::strcmp(stored, s) == 0) return stored;
        at += static_cast<uint32_t>(std::strlen(stored)) + 1;
    }
    size_t size = std::strlen(s) + 1;
    if (size > MARKUP_POOL_SIZE - used) return nullptr;
    std::memcpy(pool + used, s, size);
    MarkupDocument.pool_length = used + static_cast<uint32_t>(size);
    return pool + used;
}

int markup_add_text(const char* s, uint8_t kind) {
    if (table_full()) return kResultNoRoom;
    const char* text = markup_intern(s);
    if (text == nullptr) return kResultNoRoom;
    append_node(kind, text);
    return 0;
}

int markup_handle_tag(char* token, int line) {
    if (token[0] == '!' || token[0] == '?') return 0;  // comment, declaration, instruction

    if (token[0] == '/') {
        char* name = token + 1;
        cut_name(name);
        // Interned before comparing, so a closer that matches nothing still takes
        // pool room for a new name, and a full pool fails the parse.
        const char* pooled = markup_intern(name);
        if (pooled == nullptr) return kResultNoRoom;
        int32_t current = MarkupDocument.current;
        // The open element with id k sits at index k - 1, so its name is found
        // without a stack, and closing it reopens its parent.
        if (current >= 1 && static_cast<uint32_t>(current) <= MarkupDocument.node_count &&
            MarkupDocument.nodes[current - 1].text == pooled) {
            MarkupDocument.current = MarkupDocument.nodes[current - 1].parent;
            return 0;
        }
        error_push("no opener for </%s> on line %i\n", name, line);
        return kResultStructure;
    }

    int token_length = markup_length(token);
    int name_length = cut_name(token);
    if (table_full()) return kResultNoRoom;
    const char* pooled = markup_intern(token);
    if (pooled == nullptr) return kResultNoRoom;
    uint32_t index = MarkupDocument.node_count;
    append_node(static_cast<uint8_t>(index + 1), pooled);
    MarkupDocument.current = static_cast<uint8_t>(index + 1);
    // The one character that ended the name is dropped; what follows it is
    // kept as it stands, leading blanks included.
    if (name_length + 1 < token_length)
        return markup_add_text(token + name_length + 1, ID_TAG_REST);
    return 0;
}

int markup_parse_text(uint32_t size, const char* bytes) {
    char token[MARKUP_TOKEN_LIMIT + 2];
    int length = 0;
    uint32_t line = 1;
    bool in_double = false;
    bool in_single = false;
    if (bytes == nullptr) size = 0;

    for (uint32_t i = 0; i < size; ++i) {
        char c = bytes[i];
        if (c == '\r') continue;
        if (c == '\n') {
            ++line;
            continue;
        }
        if (c == '"' && !in_single) in_double = !in_double;
        if (c == '\'' && !in_double) in_single = !in_single;
        bool quoted = in_double || in_single;

        if (!quoted && (c == '<' || c == '>')) {
            token[length] = '\0';
            length = 0;
            if (markup_trim(token) == 0) continue;
            int result = (c == '<') ? markup_add_text(token, ID_TEXT)
                                    : markup_handle_tag(token, static_cast<int>(line));
            if (result == kResultNoRoom) push_limit(false, line);
            if (result != 0) return result;
            continue;
        }

        token[length++] = c;
        if (length > MARKUP_TOKEN_LIMIT) {
            push_limit(true, line);
            return kResultNoRoom;
        }
    }
    // Text after the last bracket is dropped: it never became a node.
    return MarkupDocument.current != 0 ? kResultStructure : 0;
}

int markup_parse_file(const char* path) {
    if (path == nullptr) path = "";
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        error_push("FILE `%s` is missing or not readable :(\n", path);
        return -1;
    }
    // A directory opens but reports an absurd size, and nothing this reader
    // could parse is larger than 4 GiB: both count as a failed read.
    struct stat info;
    int failure = 0;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) failure = EISDIR;
    long size = -1;
    if (failure == 0 && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    char* buffer = nullptr;
    if (failure == 0 && (size < 0 || static_cast<unsigned long>(size) > UINT32_MAX))
        failure = size < 0 ? (errno ? errno : EIO) : EFBIG;
    if (failure == 0) {
        buffer = static_cast<char*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
        errno = 0;
        if (buffer == nullptr)
            failure = ENOMEM;
        else if (std::fread(buffer, 1, static_cast<size_t>(size), file) !=
                 static_cast<size_t>(size))
            failure = errno ? errno : EIO;
    }
    if (failure != 0) {
        std::fclose(file);
        std::free(buffer);
        push_read_failure(path, failure);
        return 1;
    }
    std::fclose(file);
    int result = markup_parse_text(static_cast<uint32_t>(size), buffer);
    std::free(buffer);
    if (result != 0) error_push("parsing `%s` failed", path);
    return result;
}

int markup_find_child(int parent, const char* name, int n) {
    uint32_t count = MarkupDocument.node_count;
    if (count > MARKUP_NODE_ROOM) count = MARKUP_NODE_ROOM;
    int skip = n;
    for (uint32_t i = 0; i < count; ++i) {
        const MarkupNode& node = MarkupDocument.nodes[i];
        if (node.parent != parent || node.text == nullptr || std::strcmp(node.text, name) != 0)
            continue;
        if (skip <= 0) return static_cast<int>(i);
        --skip;
    }
    return -1;
}

void error_push(const char* format, ...) {
    int32_t count = ErrorList.count;
    if (count < 0 || count >= ERROR_SLOT_COUNT) return;  // full: the message is dropped
    va_list args;
    va_start(args, format);
    std::vsnprintf(ErrorList.slots[count], ERROR_SLOT_SIZE, format, args);
    va_end(args);
    ErrorList.count = count + 1;
}

const char* error_pop() {
    int32_t count = ErrorList.count;
    if (count <= 0) return nullptr;
    ErrorList.count = --count;
    if (count >= ERROR_SLOT_COUNT) return nullptr;  // a damaged count: no slot to show
    return ErrorList.slots[count];
}

const char* error_first_slot() { return ErrorList.slots[0]; }
