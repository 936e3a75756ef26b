/* The program's arguments as the library's UTF-16 texts. */
#ifndef QUORIN_DEMO_WIDE_ARGUMENTS_H
#define QUORIN_DEMO_WIDE_ARGUMENTS_H

#include "quorin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Returns argc UTF-16 copies of the arguments (argv[0] included), or null when memory runs out.
 * Release them with wide_arguments_free. */
quorin_wchar_t** wide_arguments(int argc, char** argv);
void wide_arguments_free(int argc, quorin_wchar_t** arguments);

#ifdef __cplusplus
}
#endif

#endif
