#pragma once

#include <cstddef>
#include <memory>

namespace Pellwick {

/// A heap buffer that starts on a page boundary. The kernel copies file pages into such a buffer
/// several times faster than into one at an odd address (`read` of 1 MiB chunks).
///
/// Released buffers are kept for the next one of their size, a few at a time: every file read or
/// hashed takes one or two, and a buffer of a megabyte allocated anew is a fresh mapping whose
/// every page faults on first use.
class PageAlignedBuffer
{
public:
    explicit PageAlignedBuffer(std::size_t size);

    char *data() const { return m_bytes.get(); }

private:
    struct Release
    {
        std::size_t size = 0;
        void operator()(char *bytes) const;
    };

    std::unique_ptr<char, Release> m_bytes;
};

} // namespace Pellwick
