// Path queries: read one value out of the markup document by a path such as
// `config>window>width` or `channel>part<2>offset`.
//
// A path is a series of steps separated by '>'. A step is a run of letters
// (matched upper-cased, so case does not matter), optionally followed by an
// index group: any one character that is not '>' (usually '<'), then anything
// up to the first digit, the digits of the index n, and anything up to the next
// '>'. Index n picks the (n+1)-th child of that name, in document order. Only
// the first 255 characters of a path are read.
//
// A query that leads nowhere pushes one message to the ErrorList and yields
// null, 0 or 0.0; callers tell a missing value from a zero by the ErrorList's
// count. Results point into the document's pool and go stale at markup_reset.
#pragma once

#include <cstdint>

// The earliest text node under the element the path ends at, or null.
const char* markup_query(const char* path);

// That text converted as atoi / atof do, except that integers beyond the
// 32-bit range saturate at its limits; 0 / 0.0 when the query fails.
int32_t markup_query_int(const char* path);
double markup_query_real(const char* path);

bool is_digit(char c);
