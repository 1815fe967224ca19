// SPDX-License-Identifier: GPL-3.0-or-later
#include "paintfix.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

std::optional<std::string> listWithoutAvx2(const char *disabled, const char *keep)
{
    if (keep && *keep && std::strcmp(keep, "0") != 0)
        return std::nullopt;
    // Qt reads the list as words split by spaces; an operator's own entries
    // are kept.
    std::string list = disabled ? disabled : "";
    if ((' ' + list + ' ').find(" avx2 ") != std::string::npos)
        return std::nullopt;
    if (!list.empty())
        list += ' ';
    return list + "avx2";
}

namespace {

void avoidAvx2Fills(char **argv)
{
#if QT_VERSION_MAJOR == 5 && (defined(__x86_64__) || defined(__i386__))
    if (!__builtin_cpu_supports("avx2"))
        return;
    const char *disabled = std::getenv("QT_NO_CPU_FEATURE");
    const std::optional<std::string> before = disabled ? std::optional<std::string>(disabled) : std::nullopt;
    const std::optional<std::string> list = listWithoutAvx2(disabled, std::getenv("ORVALE_KEEP_AVX2"));
    if (!list || setenv("QT_NO_CPU_FEATURE", list->c_str(), 1) != 0)
        return;
    // By its own path, not /proc/self/exe, so the process keeps its name.
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = '\0';
        execv(path, argv);
    }
    // Not started again: run with the fill routines Qt chose, and leave the
    // environment as it came for any program this one starts.
    if (before)
        setenv("QT_NO_CPU_FEATURE", before->c_str(), 1);
    else
        unsetenv("QT_NO_CPU_FEATURE");
#else
    (void)argv;
#endif
}

} // namespace

void preparePainting(char **argv)
{
    avoidAvx2Fills(argv);
    // An operator's own choice is kept (overwrite 0).
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
}
