// How the recording fakes write down a call: "Name(arg,arg,...)", integers
// and handles in decimal, strings as they are (a resource number as #n), a
// null pointer as NULL and any other pointer as &.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace fake_record {

inline std::string arg(const char* text) {
    if (!text) return "NULL";
    if (reinterpret_cast<uintptr_t>(text) < 0x10000)  // MAKEINTRESOURCE
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(text));
    return text;
}
inline std::string arg(const void* p) { return p ? "&" : "NULL"; }
template <typename T>
std::string arg(T value) {
    if constexpr (std::is_integral_v<T>)
        return std::to_string(value);
    else
        return arg(static_cast<const void*>(value));
}

template <typename... Args>
std::string call(const char* name, Args... args) {
    std::ostringstream line;
    line << name << "(";
    bool first = true;
    ((line << (first ? "" : ",") << arg(args), first = false), ...);
    line << ")";
    return line.str();
}

// The calls of the log whose name is one of names, in order.
inline std::vector<std::string> named(const std::vector<std::string>& log,
                                      const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& entry : log) {
        std::string name = entry.substr(0, entry.find('('));
        for (const auto& n : names)
            if (n == name) out.push_back(entry);
    }
    return out;
}

}  // namespace fake_record
