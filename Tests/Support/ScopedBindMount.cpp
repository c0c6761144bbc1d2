#include "ScopedBindMount.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>
#include <unistd.h>

namespace Pellwick::Test {

std::unique_ptr<ScopedBindMount> ScopedBindMount::create(const QString &source,
                                                         const QString &target)
{
    if (::geteuid() != 0 || !QDir().mkpath(target))
        return nullptr;
    QByteArray path = QFile::encodeName(target);
    if (::mount(QFile::encodeName(source).constData(), path.constData(), nullptr, MS_BIND, nullptr)
        != 0)
        return nullptr;
    return std::unique_ptr<ScopedBindMount>(new ScopedBindMount(std::move(path)));
}

ScopedBindMount::ScopedBindMount(QByteArray target)
    : m_target(std::move(target))
{}

ScopedBindMount::~ScopedBindMount()
{
    // Detached: a file still open below it must not leave the mount behind.
    ::umount2(m_target.constData(), MNT_DETACH);
}

} // namespace Pellwick::Test
