// Conversions into new heap strings (platform_heap_release), terminated; null when memory
// runs out.
#pragma once

#include "utf.h"

// mark_invalid: see utf8_to_utf16_marking_invalid.
char16_t* utf8_to_utf16_owned(const char* text, bool mark_invalid = false);
char* utf16_to_utf8_owned(const char16_t* text);
