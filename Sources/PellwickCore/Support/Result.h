#pragma once

#include <PellwickCore/Support/Error.h>

#include <tl/expected.hpp>

#include <utility>

namespace Pellwick {

/// The outcome of an operation that can fail: a value, or the `Error` that stopped it.
template<typename T = void>
class [[nodiscard]] Result : public tl::expected<T, Error>
{
public:
    using tl::expected<T, Error>::expected;

    Result(const tl::expected<T, Error> &other)
        : tl::expected<T, Error>(other)
    {}

    Result(tl::expected<T, Error> &&other)
        : tl::expected<T, Error>(std::move(other))
    {}
};

/// Wraps any error alternative as the failure of a `Result`.
template<typename E>
tl::unexpected<Error> failure(E &&error)
{
    return tl::unexpected<Error>(Error(std::forward<E>(error)));
}

/// A `FileSystemError` from the current `errno`.
tl::unexpected<Error> fileSystemFailure(const QString &operation, const QString &path, int code);

} // namespace Pellwick

#define PELLWICK_CONCAT_IMPL(a, b) a##b
#define PELLWICK_CONCAT(a, b) PELLWICK_CONCAT_IMPL(a, b)

/// Returns the error of `expr` from the enclosing function when it failed. The temporary's name is
/// unique, so the macro nests (in a lambda inside `expr`) without shadowing.
#define PELLWICK_TRY(expr) PELLWICK_TRY_IMPL(expr, PELLWICK_CONCAT(pellwickTryResult, __COUNTER__))
// NOLINTBEGIN(bugprone-macro-parentheses): `result` is the name being declared.
#define PELLWICK_TRY_IMPL(expr, result)                                                            \
    do {                                                                                           \
        if (auto result = (expr); !result)                                                         \
            return tl::unexpected<::Pellwick::Error>(std::move(result).error());                   \
    } while (false)

/// Declares or assigns `lhs` from the value of `expr`, or returns the error of `expr` from the
/// enclosing function when it failed:
///
///     PELLWICK_TRY_ASSIGN(QByteArray data, readFileContents(files, path));
///     PELLWICK_TRY_ASSIGN(record.size, reader.byteCount(QStringLiteral("size")));
///
/// It expands to several statements (a declaration cannot hide in a `do`-`while`), so it stands
/// only where a statement list may, never as the unbraced body of `if` or a loop. Like
/// `PELLWICK_TRY`, the temporary's name is unique to each use.
#define PELLWICK_TRY_ASSIGN(lhs, expr)                                                             \
    PELLWICK_TRY_ASSIGN_IMPL(lhs, expr, PELLWICK_CONCAT(pellwickTryAssignResult, __COUNTER__))
#define PELLWICK_TRY_ASSIGN_IMPL(lhs, expr, result)                                                \
    auto result = (expr);                                                                          \
    if (!result)                                                                                   \
        return tl::unexpected<::Pellwick::Error>(std::move(result).error());                       \
    lhs = std::move(*result)
// NOLINTEND(bugprone-macro-parentheses)
