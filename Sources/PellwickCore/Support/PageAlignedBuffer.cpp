#include "PageAlignedBuffer.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace Pellwick {

namespace {

constexpr std::align_val_t alignment{4096};

/// Enough for every reader and hasher of a busy machine; more is freed.
constexpr std::size_t keptBuffers = 16;

struct Spares
{
    std::mutex mutex;
    std::vector<std::pair<std::size_t, char *>> buffers;

    char *take(std::size_t size)
    {
        const std::lock_guard lock(mutex);
        const auto found = std::find_if(buffers.begin(), buffers.end(), [size](const auto &buffer) {
            return buffer.first == size;
        });
        if (found == buffers.end())
            return nullptr;
        char *bytes = found->second;
        buffers.erase(found);
        return bytes;
    }

    bool keep(std::size_t size, char *bytes)
    {
        const std::lock_guard lock(mutex);
        if (buffers.size() >= keptBuffers)
            return false;
        buffers.emplace_back(size, bytes);
        return true;
    }
};

/// Never destroyed: buffers may be released by threads still running as the process exits.
Spares &spares()
{
    static auto *const instance = new Spares;
    return *instance;
}

} // namespace

PageAlignedBuffer::PageAlignedBuffer(std::size_t size)
    : m_bytes(nullptr, Release{size})
{
    char *bytes = spares().take(size);
    if (!bytes)
        bytes = static_cast<char *>(::operator new(size, alignment));
    m_bytes.reset(bytes);
}

void PageAlignedBuffer::Release::operator()(char *bytes) const
{
    if (!spares().keep(size, bytes))
        ::operator delete(bytes, alignment);
}

} // namespace Pellwick
