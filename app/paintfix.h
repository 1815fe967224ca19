// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sets up painting as the window needs it. The program and its benchmark
// both call it first thing in main(), before any thread or child process
// exists and before the QApplication is made.
//
// It keeps Qt's raster painting off its AVX2 fill routine. Qt 5.15's AVX2
// fill returns with the upper halves of the vector registers still in use,
// so the SSE code that calls it once per span pays a register state
// transition on every span on CPUs that charge for one. Painting the LCD's
// frame and segments is thousands of one-pixel spans: measured on an Intel
// Xeon, one redraw of the LCD took 2.4 ms with the AVX2 fill and 0.25 ms
// without. Qt's GUI library picks its fill routines while it is being
// loaded, before main() runs, from the CPU features it finds less those
// named in QT_NO_CPU_FEATURE. So on a CPU with AVX2, unless that list
// already names it, this adds it and starts the program again in the same
// process (exec), and does not return. If the program cannot be started
// again, it goes on and the program runs as it is.
//
// It also keeps Qt from loading an OpenGL integration on X11. The window
// paints with the raster engine alone and never makes an OpenGL context,
// yet Qt loaded its GLX integration at start-up, and with it the system's
// OpenGL driver: on Debian 12 with Mesa that was 53 MB of the window's
// 92 MB resident. Unless the environment names an integration, none is
// loaded.
void preparePainting(char **argv);
