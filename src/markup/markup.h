// The markup reader: turns tag markup into the one process-wide document, a
// flat table of nodes linked to their enclosing element by 8-bit ids, with
// every name and text stored once in a string pool. Problems are recorded in
// the ErrorList, which the path queries (markup_query.h) fill as well.
//
// What the reader knows: elements, text between tags, quoted stretches (an
// apostrophe or double quote anywhere turns '<' and '>' into plain characters
// until the matching mark), and tags to skip (those starting with '!' or '?').
// No entities, no attributes (whatever follows a tag's name is kept as one raw
// string), no self-closing tags. Element names are stored upper-cased, so they
// compare without regard to case.
//
// Node texts are `const char*` pointers into MarkupDocument.pool. They stay
// valid until the next markup_reset (after which they point at stale bytes).
//
// Capacity: the table holds 512 records, but 8-bit ids only reach 253 usable
// element ids, so a document needing a 254th node fails the parse with result
// 2, as does one needing more than 2048 pool bytes or holding a run of more
// than 254 characters; the ErrorList then says which limit was hit and on
// which line. Nothing is ever written beyond the fixed storage.
#pragma once

#include <cstdint>

constexpr uint8_t ID_TEXT = 255;      // a text node
constexpr uint8_t ID_TAG_REST = 254;  // the rest of an opening tag after its name

constexpr uint32_t MARKUP_NODE_ROOM = 512;   // records in the table
constexpr uint32_t MARKUP_NODE_LIMIT = 253;  // nodes a document may use (8-bit ids)
constexpr uint32_t MARKUP_POOL_SIZE = 2048;  // pool bytes, terminators included
constexpr int MARKUP_TOKEN_LIMIT = 254;      // characters a token may hold
constexpr int MARKUP_LENGTH_LIMIT = 255;     // markup_length stops here
constexpr int ERROR_SLOT_COUNT = 16;
constexpr int ERROR_SLOT_SIZE = 64;  // 63 visible characters and a terminator

struct MarkupNode {
    uint8_t id;        // element: index + 1; ID_TEXT or ID_TAG_REST otherwise
    uint8_t parent;    // id of the enclosing element, 0 at top level
    const char* text;  // pooled: the upper-case name of an element, else the text
};

struct MarkupDocumentRecord {
    MarkupNode nodes[MARKUP_NODE_ROOM];
    uint32_t node_count;  // the next node goes to nodes[node_count]
    char pool[MARKUP_POOL_SIZE];
    uint32_t pool_length;  // bytes of pool in use
    int32_t current;       // id of the innermost open element, 0 at top level
};

struct ErrorListRecord {
    char slots[ERROR_SLOT_COUNT][ERROR_SLOT_SIZE];
    int32_t count;  // the next push goes to slots[count]
};

extern MarkupDocumentRecord MarkupDocument;
extern ErrorListRecord ErrorList;

// Empties the document (node_count, pool_length, current to 0). The ErrorList
// is left alone.
void markup_reset();

// Appends the markup to the document, inside whatever element is open.
// 0 parsed; 1 an unmatched closing tag, or an element still open at the end;
// 2 a token longer than 254 characters, or the node table or pool is full.
// An unmatched closer and each of the limits push a message naming what was
// wrong and its line.
int markup_parse_text(uint32_t size, const char* bytes);

// Reads the whole file and parses it. 0 parsed; -1 the file cannot be opened;
// 1 the file could not be read whole (the message says why: a folder, say);
// otherwise the result of markup_parse_text, after pushing "parsing `path`
// failed".
int markup_parse_file(const char* path);

// The pooled copy of s (the existing one if s is already pooled), or null when
// the pool has no room left for it.
const char* markup_intern(const char* s);

// Appends a node of the given kind (ID_TEXT or ID_TAG_REST) holding the pooled
// s, under the current element. 0 added; 2 the table or the pool is full.
int markup_add_text(const char* s, uint8_t kind);

// Handles one trimmed tag token (its name is upper-cased in place). 0 handled;
// 1 a closing tag that does not close the current element; 2 no room.
int markup_handle_tag(char* token, int line);

// Index of the (n+1)-th node under parent whose text equals name (n <= 0
// takes the first), whatever its kind; -1 if there is none.
int markup_find_child(int parent, const char* name, int n);

// Strips blanks and tabs from both ends in place; the remaining length.
int markup_trim(char* token);

// Characters before the terminator, at most 255.
int markup_length(const char* s);

// a-z and A-Z only; bytes above 127 are never letters.
bool is_name_letter(signed char c);

// Formats a message into the next slot; beyond 16 messages it is dropped, and
// a message longer than 63 characters is cut.
void error_push(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The most recent message, or null when there is none. The slot keeps its
// text until a later push overwrites it.
const char* error_pop();

// The text of slot 0, whatever count is.
const char* error_first_slot();
