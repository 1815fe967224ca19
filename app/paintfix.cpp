// SPDX-License-Identifier: GPL-3.0-or-later
#include "paintfix.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void avoidAvx2Fills(char **argv)
{
#if defined(__x86_64__) || defined(__i386__)
    if (!__builtin_cpu_supports("avx2"))
        return;
    // Measuring what this buys needs the program without it.
    const char *plain = std::getenv("ORVALE_PAINT_PLAIN");
    if (plain && std::strstr(plain, "avx2"))
        return;
    // An operator's own entries in the list are kept.
    const char *current = std::getenv("QT_NO_CPU_FEATURE");
    std::string disabled = current ? current : "";
    if ((' ' + disabled + ' ').find(" avx2 ") != std::string::npos)
        return;
    if (!disabled.empty())
        disabled += ' ';
    disabled += "avx2";
    if (setenv("QT_NO_CPU_FEATURE", disabled.c_str(), 1) != 0)
        return;
    // By its own path, not /proc/self/exe, so the process keeps its name.
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return;
    path[length] = '\0';
    execv(path, argv);
    // Not started again: run with the fill routines Qt chose.
#else
    (void)argv;
#endif
}

void skipOpenGlIntegration()
{
    // An operator's own choice is kept (overwrite 0).
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
}

}  // namespace

void preparePainting(char **argv)
{
    avoidAvx2Fills(argv);
    skipOpenGlIntegration();
}
