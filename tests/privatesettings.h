// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

// Settings and standard folders of this run alone, made before any window
// reads them: the user's own are never touched, and suites running side by
// side (or the same suite of another build) never see each other's choices.
inline bool usePrivateSettings()
{
    static QTemporaryDir dir;
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    return dir.isValid();
}
