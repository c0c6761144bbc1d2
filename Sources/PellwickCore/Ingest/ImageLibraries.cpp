#include "ImageLibraries.h"

#include <mutex>

#include <exiv2/exiv2.hpp>

namespace Pellwick {

void initializeImageLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        Exiv2::enableBMFF(true);
    });
}

} // namespace Pellwick
