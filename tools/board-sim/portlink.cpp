// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return QStringLiteral("a regular file");
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a symbolic link");
}

// The target a symbolic link names, or a null string when `path` is no link.
QString linkTarget(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(path.constData(), buffer, sizeof buffer);
    if (size < 0 || size == static_cast<ssize_t>(sizeof buffer))
        return QString();
    return QFile::decodeName(QByteArray(buffer, static_cast<int>(size)));
}

} // namespace

PortLink::~PortLink()
{
    remove();
}

bool PortLink::create(const QString &linkPath, const QString &target, QString &error)
{
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat info = {};
    if (::lstat(path.constData(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = QStringLiteral("refusing to replace %1: it is %2, and only a symbolic link may be replaced")
                        .arg(linkPath, kindOf(info.st_mode));
            return false;
        }
        // unlink() on a symbolic link removes the link itself, never its target.
        if (::unlink(path.constData()) != 0 && errno != ENOENT) {
            error = QStringLiteral("cannot replace the symbolic link %1: %2").arg(linkPath, errnoText());
            return false;
        }
    } else if (errno != ENOENT) {
        error = QStringLiteral("cannot use %1: %2").arg(linkPath, errnoText());
        return false;
    }

    // symlink() never overwrites: should anything have appeared at the path
    // since the check, this fails with EEXIST instead of replacing it.
    if (::symlink(QFile::encodeName(target).constData(), path.constData()) != 0) {
        error = QStringLiteral("cannot make the symbolic link %1: %2").arg(linkPath, errnoText());
        return false;
    }
    m_linkPath = linkPath;
    m_target = target;
    return true;
}

QString PortLink::remove()
{
    if (m_linkPath.isEmpty())
        return QString();
    const QString linkPath = m_linkPath;
    m_linkPath.clear();

    const QByteArray path = QFile::encodeName(linkPath);
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0)
        return QString();  // already gone
    if (!S_ISLNK(info.st_mode) || linkTarget(path) != m_target)
        return QStringLiteral("left %1 in place: it is no longer the link to %2").arg(linkPath, m_target);
    if (::unlink(path.constData()) != 0)
        return QStringLiteral("cannot remove the symbolic link %1: %2").arg(linkPath, errnoText());
    return QString();
}
