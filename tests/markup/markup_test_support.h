// The document and the error list are process-wide and the program never
// clears the error list; tests start each case from an empty pair.
#pragma once

#include <cstring>
#include <string>

#include "markup/markup.h"

inline void reset_markup_state() {
    markup_reset();
    std::memset(&MarkupDocument, 0, sizeof MarkupDocument);
    std::memset(&ErrorList, 0, sizeof ErrorList);
}

inline int parse(const std::string& text) {
    return markup_parse_text(static_cast<uint32_t>(text.size()), text.data());
}

// The messages held, oldest first.
inline std::string error_messages() {
    std::string all;
    for (int i = 0; i < ErrorList.count && i < ERROR_SLOT_COUNT; ++i) {
        if (i) all += '|';
        all += ErrorList.slots[i];
    }
    return all;
}
