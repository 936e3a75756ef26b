// Conversions into new heap strings (platform_heap_release), terminated; null when memory
// runs out.
#pragma once

#include "platform/utf.h"

char16_t* utf8_to_utf16_owned(const char* text);
char* utf16_to_utf8_owned(const char16_t* text);
