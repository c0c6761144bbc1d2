#pragma once

#include <PellwickCore/Ingest/TransferProgress.h>

#include <QString>

namespace Pellwick::TransferProgressPresentation {

/// The one line of English text of a progress row, also the accessible name of its meter:
/// the phase's text, then ", N of M packages" when there is a package total. Byte counts read as
/// `LibraryPresentation::byteText` gives them, numbers in plain decimal whatever the locale.
/// A preview being sent is named by its photo: "IMG_0015.DNG, preview".
/// Pure; callable from any thread.
QString message(const TransferProgress &progress);

} // namespace Pellwick::TransferProgressPresentation
