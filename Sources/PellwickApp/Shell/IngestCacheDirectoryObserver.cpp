#include "IngestCacheDirectoryObserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Pellwick {

namespace {

/// Everything that changes the tree; never reads, opens or closes without a write.
constexpr uint32_t changeEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM
                                  | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

bool isSameOrBelow(const QString &path, const QString &folder)
{
    return path == folder
           || (path.startsWith(folder) && path.size() > folder.size()
               && path.at(folder.size()) == QLatin1Char('/'));
}

} // namespace

std::unique_ptr<IngestCacheDirectoryObserver> IngestCacheDirectoryObserver::create(
    const QString &url, std::function<void()> onChange, SingleShotTimerFactory timers)
{
    if (!QFileInfo::exists(url))
        return nullptr;
    const int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    std::unique_ptr<IngestCacheDirectoryObserver> observer(new IngestCacheDirectoryObserver(
        descriptor, QDir::cleanPath(url), std::move(onChange), timers));
    if (!observer->addWatch(observer->m_root))
        return nullptr;
    // What the tree holds now is no change: the watch starts from now, like the events it reports.
    observer->watchTree(observer->m_root);
    return observer;
}

IngestCacheDirectoryObserver::IngestCacheDirectoryObserver(int inotifyDescriptor,
                                                           QString root,
                                                           std::function<void()> onChange,
                                                           const SingleShotTimerFactory &timers)
    : m_inotify(inotifyDescriptor)
    , m_root(std::move(root))
    , m_onChange(std::move(onChange))
    , m_notifier(std::make_unique<QSocketNotifier>(inotifyDescriptor, QSocketNotifier::Read))
{
    m_batchTimer = timers([this] { m_debounceTimer->start(debounce); });
    m_debounceTimer = timers([this] {
        // Called from a copy and touching nothing afterwards, the handler may destroy this
        // observer.
        const std::function<void()> onChange = m_onChange;
        onChange();
    });
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

IngestCacheDirectoryObserver::~IngestCacheDirectoryObserver()
{
    m_debounceTimer.reset();
    m_batchTimer.reset();
    m_notifier.reset();
    ::close(m_inotify);
}

bool IngestCacheDirectoryObserver::addWatch(const QString &folder)
{
    // The root may be a link to where the cache lives; nothing below it is followed.
    const uint32_t mask
        = folder == m_root ? changeEvents : changeEvents | IN_DONT_FOLLOW | IN_ONLYDIR;
    const int watch = inotify_add_watch(m_inotify, QFile::encodeName(folder).constData(), mask);
    if (watch < 0)
        return false;
    m_pathsByWatch.insert(watch, folder);
    return true;
}

bool IngestCacheDirectoryObserver::watchTree(const QString &folder)
{
    bool changed = false;
    QStringList pending{folder};
    while (!pending.isEmpty()) {
        const QString current = pending.takeLast();
        // ENOSPC (the watch limit), a folder already gone or replaced by a link: all count as a
        // change, so the refresh that follows looks at the tree itself.
        if (!addWatch(current)) {
            changed = true;
            continue;
        }
        // Plain readdir: the tree may hold a hundred thousand files, and the entry types come
        // with the names, so nothing but a link-less folder is followed and nothing is stat'ed.
        const int noFollow = current == m_root ? 0 : O_NOFOLLOW;
        const int descriptor = ::open(QFile::encodeName(current).constData(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow);
        DIR *directory = descriptor >= 0 ? ::fdopendir(descriptor) : nullptr;
        if (!directory) {
            if (descriptor >= 0)
                ::close(descriptor);
            changed = true;
            continue;
        }
        while (const dirent *entry = ::readdir(directory)) {
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            changed = true;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat status
                {};

                isFolder = ::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
                           && S_ISDIR(status.st_mode);
            }
            if (isFolder)
                pending.append(current + QLatin1Char('/') + QFile::decodeName(entry->d_name));
        }
        ::closedir(directory);
    }
    return changed;
}

void IngestCacheDirectoryObserver::unwatchTree(const QString &folder)
{
    for (auto it = m_pathsByWatch.begin(); it != m_pathsByWatch.end();) {
        if (isSameOrBelow(it.value(), folder)) {
            inotify_rm_watch(m_inotify, it.key());
            it = m_pathsByWatch.erase(it);
        } else {
            ++it;
        }
    }
}

void IngestCacheDirectoryObserver::readEvents()
{
    bool changed = false;
    bool overflowed = false;
    alignas(inotify_event) std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t length = ::read(m_inotify, buffer.data(), buffer.size());
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const char *name = buffer.data() + offset + sizeof event;
            offset += static_cast<ssize_t>(sizeof event + event.len);

            if (event.mask & IN_Q_OVERFLOW) {
                overflowed = true;
                continue;
            }
            if (event.mask & IN_IGNORED) {
                // The folder is gone, or its watch was removed when it left the tree.
                m_pathsByWatch.remove(event.wd);
                continue;
            }
            const auto folder = m_pathsByWatch.constFind(event.wd);
            if (folder == m_pathsByWatch.cend())
                continue; // a watch removed meanwhile: its folder left the tree
            changed = true;
            if ((event.mask & IN_MOVE_SELF) && *folder == m_root) {
                // The cache folder itself moved away: what it holds is no longer the cache.
                unwatchTree(m_root);
                continue;
            }
            if (!(event.mask & IN_ISDIR) || event.len == 0)
                continue;
            const QString path = *folder + QLatin1Char('/') + QFile::decodeName(name);
            if (event.mask & IN_MOVED_FROM)
                unwatchTree(path);
            else if (event.mask & (IN_CREATE | IN_MOVED_TO))
                watchTree(path);
        }
    }
    if (overflowed) {
        // Creations may have been lost: watch whatever is not watched yet.
        changed = true;
        watchTree(m_root);
    }
    if (changed)
        noteChange();
}

void IngestCacheDirectoryObserver::noteChange()
{
    if (!m_batchTimer->isActive())
        m_batchTimer->start(latency);
}

} // namespace Pellwick
