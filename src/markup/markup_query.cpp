#include "markup/markup_query.h"

#include <cstdlib>

#include "markup/markup.h"

bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* markup_query(const char* path) {
    char name[MARKUP_LENGTH_LIMIT + 1];
    if (path == nullptr) path = "";
    int length = markup_length(path);
    int i = 0;
    int parent = 0;

    while (i < length) {
        int name_length = 0;
        while (i < length && is_name_letter(static_cast<signed char>(path[i]))) {
            char c = path[i++];
            name[name_length++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
        name[name_length] = '\0';

        // The index wraps as a 32-bit count would: a long run of digits gives
        // some index, never undefined arithmetic.
        uint32_t index = 0;
        if (i < length && path[i] == '>') {
            ++i;
        } else if (i < length) {
            ++i;  // the character that opens the group, whatever it is
            while (i < length && !is_digit(path[i])) ++i;
            while (i < length && is_digit(path[i])) index = index * 10 + static_cast<uint32_t>(path[i++] - '0');
            while (i < length && path[i] != '>') ++i;
            if (i < length) ++i;
        }

        int n = static_cast<int32_t>(index);
        int k = markup_find_child(parent, name, n);
        if (k < 0) {
            error_push("node `%s[%i]` not found", name, n);
            return nullptr;
        }
        parent = MarkupDocument.nodes[k].id;
    }

    uint32_t count = MarkupDocument.node_count;
    if (count > MARKUP_NODE_ROOM) count = MARKUP_NODE_ROOM;
    for (uint32_t k = 0; k < count; ++k) {
        const MarkupNode& node = MarkupDocument.nodes[k];
        if (node.parent == parent && node.id == ID_TEXT) return node.text;
    }
    error_push("no id255 found for parent %i ", parent);
    return nullptr;
}

int32_t markup_query_int(const char* path) {
    const char* text = markup_query(path);
    if (text == nullptr) return 0;
    // atoi is undefined for text out of range; this is what glibc's atoi does
    // without the undefined part: strtol saturates at the range of long, and
    // the narrowing to 32 bits wraps.
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

double markup_query_real(const char* path) {
    const char* text = markup_query(path);
    if (text == nullptr) return 0.0;
    return std::strtod(text, nullptr);
}
