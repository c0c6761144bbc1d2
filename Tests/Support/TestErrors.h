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

} // namespace Test

} // namespace Pellwick

/// Verifies that a `Result` holds a value, printing its error otherwise.
#define PELLWICK_VERIFY_SUCCESS(result)                                                            \
    QVERIFY2(static_cast<bool>(result), ::Pellwick::Test::failureText(result).constData())
