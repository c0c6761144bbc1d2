#pragma once

#include <QTest>

/// Several test classes in one executable. `QTEST_MAIN` and `QTEST_GUILESS_MAIN` register their
/// class here instead of defining `main`; the executable's `main` (TestClassRegistry.cpp) runs the
/// class that its first argument or PELLWICK_TEST_CLASS names, as the class's own executable
/// would have. The test files stay as they are.
namespace Pellwick::Test {

/// What a test class's own `main` did: makes the application object and runs the class.
using TestClassMain = int (*)(int argc, char *argv[]);

bool registerTestClass(const char *name, TestClassMain run);

} // namespace Pellwick::Test

#undef QTEST_MAIN_WRAPPER
#define QTEST_MAIN_WRAPPER(TestObject, ...)                                                        \
    static int pellwickRunTestClass(int argc, char *argv[])                                        \
    {                                                                                              \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                         \
        __VA_ARGS__                                                                                \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }                                                                                              \
    [[maybe_unused]] static const bool pellwickTestClassRegistered                                 \
        = ::Pellwick::Test::registerTestClass(#TestObject, &pellwickRunTestClass);
