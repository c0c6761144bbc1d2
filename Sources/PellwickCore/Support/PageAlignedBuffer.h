#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace Pellwick {

/// A heap buffer that starts on a page boundary. The kernel copies file pages into such a buffer
/// several times faster than into one at an odd address (`read` of 1 MiB chunks).
class PageAlignedBuffer
{
public:
    explicit PageAlignedBuffer(std::size_t size)
        : m_bytes(static_cast<char *>(::operator new(size, alignment)))
    {}

    char *data() const { return m_bytes.get(); }

private:
    static constexpr std::align_val_t alignment{4096};

    struct Deleter
    {
        void operator()(char *bytes) const { ::operator delete(bytes, alignment); }
    };

    std::unique_ptr<char, Deleter> m_bytes;
};

} // namespace Pellwick
