#pragma once

#include <PellwickCore/Support/Date.h>

namespace Pellwick {

/// The importer's source of the current date.
class ImportClock
{
public:
    ImportClock() = default;
    ImportClock(const ImportClock &) = delete;
    ImportClock &operator=(const ImportClock &) = delete;
    virtual ~ImportClock() = default;

    virtual Date now() const = 0;
};

/// The system's wall clock.
class SystemImportClock final : public ImportClock
{
public:
    Date now() const override { return Date::now(); }
};

} // namespace Pellwick
