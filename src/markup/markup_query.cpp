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
    int last_index = 0;

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
            while (i < length && is_digit(path[i]))
                index = index * 10 + static_cast<uint32_t>(path[i++] - '0');
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
        last_index = n;
    }

    uint32_t count = MarkupDocument.node_count;
    if (count > MARKUP_NODE_ROOM) count = MARKUP_NODE_ROOM;
    for (uint32_t k = 0; k < count; ++k) {
        const MarkupNode& node = MarkupDocument.nodes[k];
        if (node.parent == parent && node.id == ID_TEXT) return node.text;
    }
    // An element without text of its own is named as a missing one is:
    // empty when nothing is inside it (blanks alone leave nothing), else it
    // holds only elements.
    if (parent >= 1 && static_cast<uint32_t>(parent) <= count) {
        bool inside = false;
        for (uint32_t k = 0; k < count && !inside; ++k)
            inside = MarkupDocument.nodes[k].parent == parent &&
                     MarkupDocument.nodes[k].id != ID_TAG_REST;
        error_push(inside ? "node `%s[%i]` holds no text" : "node `%s[%i]` is empty",
                   MarkupDocument.nodes[parent - 1].text, last_index);
    } else {
        error_push("no id255 found for parent %i ", parent);
    }
    return nullptr;
}

int32_t markup_query_int(const char* path) {
    const char* text = markup_query(path);
    if (text == nullptr) return 0;
    // As atoi, but text out of range saturates at the 32-bit limits instead
    // of wrapping, so a huge width is clamped to the largest width rather
    // than taken for some small or negative number.
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

double markup_query_real(const char* path) {
    const char* text = markup_query(path);
    if (text == nullptr) return 0.0;
    return std::strtod(text, nullptr);
}
