#pragma once

namespace Pellwick {

/// Prepares the image libraries Core reads RAW files with (metadata and pixel decoders) for use
/// from any thread: registers every container format (the ISO base media one too, without which
/// CR3 files read as empty) and silences the libraries' own logging. Call once at start, before
/// any other thread exists; later calls do nothing.
void initializeImageLibraries();

} // namespace Pellwick
