// The library's texts are char16_t internally; the public header says quorin_wchar_t, which is
// wchar_t on Windows. Both are 16-bit units: these casts are the export boundary.
#pragma once

#include "quorin.h"

static_assert(sizeof(quorin_wchar_t) == sizeof(char16_t));

inline char16_t* to_internal(quorin_wchar_t* text) { return reinterpret_cast<char16_t*>(text); }
inline const char16_t* to_internal(const quorin_wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}
inline quorin_wchar_t* to_public(char16_t* text) { return reinterpret_cast<quorin_wchar_t*>(text); }
inline const quorin_wchar_t* to_public(const char16_t* text) {
    return reinterpret_cast<const quorin_wchar_t*>(text);
}
