// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sets up painting as the window needs it. The program and its benchmark
// both call it first thing in main(), before the QApplication is made.
//
// It keeps Qt from loading an OpenGL integration on X11. The window paints
// with the raster engine alone and never makes an OpenGL context, yet Qt
// loaded its GLX integration at start-up, and with it the system's OpenGL
// driver: on Debian 12 with Mesa that was 53 MB of the window's 92 MB
// resident. Unless the environment names an integration, none is loaded.
void preparePainting();
