// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// Sets up painting as the window needs it. The program and its benchmark
// both call it first thing in main(), before any thread or child process
// exists and before the QApplication is made.
//
// On x86 builds against Qt 5 it keeps Qt's raster engine off its AVX2
// routines. Qt 5.15's AVX2 fills return with the upper halves of the vector
// registers still in use, and Intel cores then charge a state transition
// to the SSE code that runs next, at every span: the LCD's frame and
// segments are thousands of short spans. On an Intel Xeon (2026, this
// program under Xvfb, 20 s runs) the window took 10.7% of a core at 720
// reports/s and 9.6% at 123/s with them, 5.1% and 3.3% with `avx2` in
// QT_NO_CPU_FEATURE; one full paint of the LCD took 3.4-3.8 ms against
// 0.42 ms. AMD Zen cores charge no such transition: on an AMD EPYC it
// bought nothing measurable. Qt 6 does not pay it either (5.9% and 3.4% on
// the same Xeon, with or without the variable), so there nothing is done.
//
// Setting the variable in main() is too late: Qt 5's GUI library picks its
// fill routines in a constructor function while it is loaded, before main()
// runs (measured: the LCD's paint took as long with the variable set in
// main() as without it). So on a CPU with AVX2, unless QT_NO_CPU_FEATURE
// already names it, this adds it to the operator's list and starts the
// program again in the same process (exec), and does not return. If the
// program cannot be started again, it runs on as it is. ORVALE_KEEP_AVX2=1
// leaves Qt's choice alone.
//
// It also keeps Qt from loading an OpenGL integration on X11. The window
// paints with the raster engine alone and never makes an OpenGL context,
// yet Qt loaded its GLX integration at start-up, and with it the system's
// OpenGL driver: on Debian 12 with Mesa that was 53 MB of the window's
// 92 MB resident. Unless the environment names an integration, none is
// loaded.
void preparePainting(char **argv);

// The QT_NO_CPU_FEATURE list to start again with, given the list in the
// environment (`disabled`, null when unset) and ORVALE_KEEP_AVX2 (`keep`);
// nothing when the program should run on as it is.
[[nodiscard]] std::optional<std::string> listWithoutAvx2(const char *disabled, const char *keep);
