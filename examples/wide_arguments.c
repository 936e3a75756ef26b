#include "wide_arguments.h"

#include <stdlib.h>

void wide_arguments_free(int argc, quorin_wchar_t** arguments) {
    int i;
    if (arguments == NULL) return;
    for (i = 0; i < argc; ++i) free(arguments[i]);
    free(arguments);
}
