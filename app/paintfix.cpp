// SPDX-License-Identifier: GPL-3.0-or-later
#include "paintfix.h"

#include <cstdlib>

void preparePainting()
{
    // An operator's own choice is kept (overwrite 0).
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
}
