/* The system keeps the command line in UTF-16: take the arguments from there rather than
 * from the ANSI copies in argv. */
#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "wide_arguments.h"

quorin_wchar_t** wide_arguments(int argc, char** argv) {
    int count = 0, i;
    wchar_t** system_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    quorin_wchar_t** arguments;
    (void)argv;
    if (system_arguments == NULL) return NULL;
    if (count != argc) {
        LocalFree(system_arguments);
        return NULL;
    }
    arguments = calloc((size_t)argc + 1, sizeof *arguments);
    for (i = 0; arguments != NULL && i < argc; ++i) {
        const size_t size = (wcslen(system_arguments[i]) + 1) * sizeof(wchar_t);
        arguments[i] = malloc(size);
        if (arguments[i] == NULL) {
            wide_arguments_free(i, arguments);
            arguments = NULL;
            break;
        }
        memcpy(arguments[i], system_arguments[i], size);
    }
    LocalFree(system_arguments);
    return arguments;
}
