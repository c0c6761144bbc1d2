# `tests` builds what the registered tests run and nothing else: a sanitizer build registers only the
# tests of its pass, and there leaves out the application and the development backend.
add_custom_target(tests)

# pellwick_add_test(<ClassName> SOURCES <files...> [LIBRARIES <targets...>] [TIMEOUT <seconds>]
#                   [WRAPPER <command...>] [LABELS <labels...>] [X_SERVER] [SLOW])
# Builds one QTest executable for one test class and registers it with CTest. A WRAPPER command
# runs the test executable as its last argument (for tests that need a prepared session). Tests
# are labelled "core" or "app" by their folder; LABELS adds more ("sanitize": also run in the
# sanitizer pass of continuous integration). SLOW labels a crash or kill test "slow": it ends a
# child process at many points (Tests/Support/KillPoints.h), an even sample of them by default and
# every one with PELLWICK_KILL_EVERY_OPERATION=1. `ctest -LE slow` leaves them out of a quick run;
# the whole run and continuous integration include them. X_SERVER: the test starts X servers of its
# own through Tests/Support/run-under-xvfb (Support/PrivateXServer.h), each on a display the server
# chose itself, so such tests need not take turns, within one run or beside another.
function(pellwick_add_test name)
    cmake_parse_arguments(ARG "SLOW;X_SERVER" "TIMEOUT" "SOURCES;LIBRARIES;WRAPPER;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT AND ARG_SLOW)
        set(ARG_TIMEOUT 600)
    elseif(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    if(CMAKE_CURRENT_SOURCE_DIR MATCHES "/Tests/PellwickCore")
        set(label core)
    else()
        set(label app)
    endif()
    list(APPEND label ${ARG_LABELS})
    # The sanitizer pass runs only the Core tests and those labelled "sanitize": it builds no
    # others.
    if(PELLWICK_SANITIZE AND NOT "core" IN_LIST label AND NOT "sanitize" IN_LIST label)
        set(sanitizerPassSkips ON)
        add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    else()
        set(sanitizerPassSkips OFF)
        add_executable(${name} ${ARG_SOURCES})
    endif()
    target_link_libraries(${name} PRIVATE PellwickTestSupport Qt6::Test ${ARG_LIBRARIES})
    if(ARG_X_SERVER)
        target_compile_definitions(${name} PRIVATE
            PELLWICK_RUN_UNDER_XVFB="${PROJECT_SOURCE_DIR}/Tests/Support/run-under-xvfb")
    endif()
    # Every test that links the application reuses one precompiled header
    # (Tests/PellwickApp/CMakeLists.txt), and every Core test another (Tests/PellwickCore).
    if("PellwickAppLib" IN_LIST ARG_LIBRARIES)
        pellwick_use_app_test_precompiled_header(${name})
    elseif("core" IN_LIST label)
        pellwick_use_core_test_precompiled_header(${name})
    endif()
    # Loading a precompiled header takes seconds; moc's unit, nearly always empty (the tests include
    # their own moc output), needs none.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/mocs_compilation.cpp
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    if(sanitizerPassSkips)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${name}>)
    add_dependencies(tests ${name})
    # The crash and kill tests take longest: a parallel run without timings of an earlier one
    # (continuous integration's fresh clone) starts them first, not last beside an idle processor.
    if(ARG_SLOW)
        list(APPEND label slow)
        set_tests_properties(${name} PROPERTIES COST 1000)
    endif()
    # Qt Test's own watchdog ends any one test function after five minutes: a kill test's one
    # function, under the sanitizers beside other tests, can take longer within its test's time.
    math(EXPR functionTimeout "${ARG_TIMEOUT} * 1000")
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${label}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PELLWICK_TEST_DATA_TOOLS=${PROJECT_SOURCE_DIR}/Tests/Support;QTEST_FUNCTION_TIMEOUT=${functionTimeout}")
endfunction()

# GCC takes a precompiled header only where the definitions it was made with are the same. Qt Test
# defines the test's own folders, which no test reads: without them, the tests of every folder
# share one header.
function(pellwick_use_app_test_precompiled_header target)
    target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
    if(target STREQUAL "PellwickAppTestPrecompiledHeader")
        target_precompile_headers(${target} PRIVATE ${PELLWICK_APP_PRECOMPILED_HEADERS})
    else()
        target_precompile_headers(${target} REUSE_FROM PellwickAppTestPrecompiledHeader)
    endif()
endfunction()

# The Core tests' header, made as the application tests' is: Qt Test with the headers precompiled for
# Core.
function(pellwick_use_core_test_precompiled_header target)
    target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
    if(target STREQUAL "PellwickCoreTestPrecompiledHeader")
        target_precompile_headers(${target} PRIVATE <QTest> ${PELLWICK_CORE_PRECOMPILED_HEADERS})
    else()
        target_precompile_headers(${target} REUSE_FROM PellwickCoreTestPrecompiledHeader)
    endif()
endfunction()
