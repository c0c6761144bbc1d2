#pragma once

#include <PellwickCore/Support/Result.h>

#include <QByteArray>
#include <QTest>

namespace Pellwick {

/// Lets QCOMPARE print an `Error` it found unequal.
inline char *toString(const Error &error)
{
    return QTest::toString(describe(error));
}

namespace Test {

/// The description of a failed result, or nothing for a success.
template<typename T>
QByteArray failureText(const Result<T> &result)
{
    return result ? QByteArray() : describe(result.error()).toLocal8Bit();
}

/// The error of a failed result; for a success an error no operation returns, so comparing it
/// with an expected error fails and prints "succeeded".
template<typename T>
Error errorOf(const Result<T> &result)
{
    return result ? Error(UnexpectedExceptionError{QStringLiteral("succeeded")}) : result.error();
}

} // namespace Test

} // namespace Pellwick

/// Verifies that a `Result` holds a value (evaluating it once), printing its error otherwise.
#define PELLWICK_VERIFY_SUCCESS(expr)                                                              \
    do {                                                                                           \
        const auto &pellwickVerifiedResult = (expr);                                               \
        QVERIFY2(static_cast<bool>(pellwickVerifiedResult),                                        \
                 ::Pellwick::Test::failureText(pellwickVerifiedResult).constData());               \
    } while (false)
