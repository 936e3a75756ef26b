#include "platform/platform.h"

constinit const char16_t platform_agent_file_name[] = u"kestraneloader.dll";
constinit const bool platform_paths_use_backslash = true;
