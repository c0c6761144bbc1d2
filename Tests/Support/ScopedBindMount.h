#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace Pellwick::Test {

/// The folder `source` mounted a second time at `target` (a bind mount), in the process's mount
/// namespace so that every thread sees it; unmounted when destroyed. Destroy it before the
/// temporary folder that holds `target`.
class ScopedBindMount
{
public:
    /// Makes `target` (with its parents) and mounts `source` there. None when that is not
    /// possible here (no administrator).
    static std::unique_ptr<ScopedBindMount> create(const QString &source, const QString &target);
    ~ScopedBindMount();

    ScopedBindMount(const ScopedBindMount &) = delete;
    ScopedBindMount &operator=(const ScopedBindMount &) = delete;

private:
    explicit ScopedBindMount(QByteArray target);

    QByteArray m_target;
};

} // namespace Pellwick::Test
