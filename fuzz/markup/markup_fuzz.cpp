// Feeds arbitrary bytes to the markup reader, then to the path queries (a few
// fixed paths and the input itself read as a path), and aborts when the
// document or the error list breaks one of its invariants.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "markup/markup.h"
#include "markup/markup_query.h"

namespace {

bool in_pool(const char* text) {
    const char* pool = MarkupDocument.pool;
    if (text == nullptr || text < pool || text >= pool + MarkupDocument.pool_length) return false;
    // The string must end inside the used part of the pool.
    return std::memchr(text, '\0', static_cast<size_t>(pool + MarkupDocument.pool_length - text)) !=
           nullptr;
}

void check(bool holds) {
    if (!holds) std::abort();
}

void check_document(int result) {
    const MarkupDocumentRecord& doc = MarkupDocument;
    check(doc.node_count <= MARKUP_NODE_ROOM);
    check(doc.node_count <= MARKUP_NODE_LIMIT);  // even a failed parse stops at the limit
    check(doc.pool_length <= MARKUP_POOL_SIZE);
    check(result >= 0 && result <= 2);
    if (result == 0) check(doc.current == 0);
    check(doc.current >= 0 && static_cast<uint32_t>(doc.current) <= doc.node_count);
    for (uint32_t i = 0; i < doc.node_count; ++i) {
        const MarkupNode& node = doc.nodes[i];
        check(in_pool(node.text));
        if (node.id != ID_TEXT && node.id != ID_TAG_REST) check(node.id == i + 1);
        // A parent is an element that came earlier in the table.
        if (node.parent != 0) {
            check(node.parent <= i);
            uint8_t parent_id = doc.nodes[node.parent - 1].id;
            check(parent_id == node.parent);
        }
    }
}

void check_errors() {
    check(ErrorList.count >= 0 && ErrorList.count <= ERROR_SLOT_COUNT);
    for (const auto& slot : ErrorList.slots) check(std::memchr(slot, '\0', sizeof slot) != nullptr);
}

void check_query(const char* path) {
    const char* text = markup_query(path);
    if (text != nullptr) check(in_pool(text));
    markup_query_int(path);
    markup_query_real(path);
    check_errors();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    markup_reset();
    ErrorList.count = 0;
    uint32_t length = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    int result = markup_parse_text(length, reinterpret_cast<const char*>(data));
    check_document(result);
    check_errors();

    static const char* const kPaths[] = {
        "config>window>width",
        "config<0>window>halign",
        "channel>part<2>offset",
        "a",
        "a>b",
        "",
        "part1>x",
        "part<>offset",
        "part<12>offset",
        "A<4294967295>b",
    };
    for (const char* path : kPaths) check_query(path);

    char path[300];
    size_t n = size < sizeof path - 1 ? size : sizeof path - 1;
    std::memcpy(path, data, n);
    path[n] = '\0';
    check_query(path);

    // Pushing far past the sixteen slots must neither grow count nor spill.
    for (int i = 0; i < 20; ++i) error_push("%.*s", static_cast<int>(n), path);
    check_errors();
    check(ErrorList.count == ERROR_SLOT_COUNT);
    while (error_pop() != nullptr) {
    }
    check(ErrorList.count == 0);
    check_document(result);
    return 0;
}
