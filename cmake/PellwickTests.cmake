# `tests` builds what the registered tests run and nothing else: a sanitizer build registers only the
# tests of its pass, and there leaves out the application and the development backend.
add_custom_target(tests)

# pellwick_add_test(<ClassName> SOURCES <files...> [LIBRARIES <targets...>] [TIMEOUT <seconds>]
#                   [WRAPPER <command...>] [LABELS <labels...>] [X_SERVER] [SLOW] [STANDALONE])
# Registers one QTest class with CTest. Tests are labelled "core" or "app" by their folder; LABELS
# adds more ("sanitize": also run in the sanitizer pass of continuous integration). A WRAPPER
# command runs the test executable as its last argument (for tests that need a prepared session).
# SLOW labels a crash or kill test "slow": it ends a child process at many points
# (Tests/Support/KillPoints.h), an even sample of them by default and every one with
# PELLWICK_KILL_EVERY_OPERATION=1. `ctest -LE slow` leaves them out of a quick run; the whole run
# and continuous integration include them. X_SERVER: the test starts X servers of its own through
# Tests/Support/run-under-xvfb (Support/PrivateXServer.h), each on a display the server chose
# itself, so such tests need not take turns, within one run or beside another.
#
# The classes of one folder are built into one executable, its files compiled a few at a time in
# one unit (pellwick_finish_test_bundle): compiling and linking each alone took most of the build.
# CTest runs each class on its own (Tests/Support/TestClassRegistry.h). A test that has its own
# `main`, or that its folder configures as a target of its own (definitions, dependencies), is
# STANDALONE: one executable named after its class.
function(pellwick_add_test name)
    cmake_parse_arguments(ARG "SLOW;X_SERVER;STANDALONE" "TIMEOUT"
        "SOURCES;LIBRARIES;WRAPPER;LABELS" ${ARGN})
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
    else()
        set(sanitizerPassSkips OFF)
    endif()
    if("PellwickAppLib" IN_LIST ARG_LIBRARIES)
        set(header app)
    elseif("core" IN_LIST label)
        set(header core)
    else()
        set(header none)
    endif()
    list(GET ARG_SOURCES 0 mainSource)
    file(STRINGS ${mainSource} ownMain REGEX "^int main\\(")
    if(ARG_STANDALONE OR ownMain)
        pellwick_add_test_executable(${name} ${header} ${sanitizerPassSkips} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
        if(ARG_X_SERVER)
            target_compile_definitions(${name} PRIVATE
                PELLWICK_RUN_UNDER_XVFB="${PROJECT_SOURCE_DIR}/Tests/Support/run-under-xvfb")
        endif()
        set(executable ${name})
    else()
        # One executable per folder, kind of precompiled header and place in the sanitizer pass.
        file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/Tests ${CMAKE_CURRENT_SOURCE_DIR})
        string(REGEX REPLACE "[/.]" "" folder "${folder}")
        set(executable ${folder}Tests)
        if(NOT header STREQUAL "core")
            string(APPEND executable "_${header}")
        endif()
        if("sanitize" IN_LIST label)
            string(APPEND executable "_sanitize")
        endif()
        get_property(known DIRECTORY PROPERTY PELLWICK_TEST_BUNDLES)
        if(NOT executable IN_LIST known)
            set_property(DIRECTORY APPEND PROPERTY PELLWICK_TEST_BUNDLES ${executable})
            set_property(DIRECTORY PROPERTY PELLWICK_${executable}_HEADER ${header})
            set_property(DIRECTORY PROPERTY PELLWICK_${executable}_SKIPPED ${sanitizerPassSkips})
            # A deferred call reads its arguments when it runs: the name is written into it now.
            cmake_language(EVAL CODE
                "cmake_language(DEFER CALL pellwick_finish_test_bundle [[${executable}]])")
        endif()
        set_property(DIRECTORY APPEND PROPERTY PELLWICK_${executable}_SOURCES ${ARG_SOURCES})
        set_property(DIRECTORY APPEND PROPERTY PELLWICK_${executable}_LIBRARIES ${ARG_LIBRARIES})
        if(ARG_X_SERVER)
            set_property(DIRECTORY PROPERTY PELLWICK_${executable}_X_SERVER ON)
        endif()
    endif()
    if(sanitizerPassSkips)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${ARG_WRAPPER} $<TARGET_FILE:${executable}>)
    add_dependencies(tests ${executable})
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
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PELLWICK_TEST_DATA_TOOLS=${PROJECT_SOURCE_DIR}/Tests/Support;QTEST_FUNCTION_TIMEOUT=${functionTimeout};PELLWICK_TEST_CLASS=${name}")
endfunction()

# A test executable of the given sources with the test support, Qt Test and the precompiled header
# of its kind (app, core or none); left out of `all` when the sanitizer pass skips it.
function(pellwick_add_test_executable target header skipped)
    if(skipped)
        add_executable(${target} EXCLUDE_FROM_ALL ${ARGN})
    else()
        add_executable(${target} ${ARGN})
    endif()
    target_link_libraries(${target} PRIVATE PellwickTestSupport Qt6::Test)
    # Every test that links the application reuses one precompiled header
    # (Tests/PellwickApp/CMakeLists.txt), and every Core test another (Tests/PellwickCore).
    if(header STREQUAL "app")
        pellwick_use_app_test_precompiled_header(${target})
    elseif(header STREQUAL "core")
        pellwick_use_core_test_precompiled_header(${target})
    endif()
    # Loading a precompiled header takes seconds; moc's unit, nearly always empty (the tests include
    # their own moc output), needs none.
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()

# The tests per unit of a folder's executable: a unit of eight Core tests compiled in a quarter of
# the time of the eight alone.
set(PELLWICK_TESTS_PER_UNIT 8)

# Builds a folder's executable from the test classes gathered by pellwick_add_test. Each unit
# includes its test files whole, every one in a namespace of its own, so that the helpers each file
# keeps to itself stay its own; the headers they include come first, outside. The files themselves
# are sources too (for moc), but compiled only within a unit.
function(pellwick_finish_test_bundle target)
    get_property(header DIRECTORY PROPERTY PELLWICK_${target}_HEADER)
    get_property(skipped DIRECTORY PROPERTY PELLWICK_${target}_SKIPPED)
    get_property(sources DIRECTORY PROPERTY PELLWICK_${target}_SOURCES)
    get_property(libraries DIRECTORY PROPERTY PELLWICK_${target}_LIBRARIES)
    get_property(xServer DIRECTORY PROPERTY PELLWICK_${target}_X_SERVER)
    list(REMOVE_DUPLICATES sources)
    list(REMOVE_DUPLICATES libraries)
    set(testFiles)
    foreach(source IN LISTS sources)
        if(source MATCHES "\\.cpp$")
            list(APPEND testFiles ${CMAKE_CURRENT_SOURCE_DIR}/${source})
        endif()
    endforeach()
    set(units)
    set(unit 0)
    list(LENGTH testFiles count)
    set(index 0)
    while(index LESS count)
        set(includes "#include <Support/TestClassRegistry.h>\n")
        set(bodies)
        foreach(offset RANGE 1 ${PELLWICK_TESTS_PER_UNIT})
            if(NOT index LESS count)
                break()
            endif()
            list(GET testFiles ${index} file)
            get_filename_component(folder ${file} DIRECTORY)
            file(STRINGS ${file} lines REGEX "^#include ")
            foreach(line IN LISTS lines)
                if(line MATCHES "^#include \"([^\"]+)\"")
                    set(included ${CMAKE_MATCH_1})
                    if(included MATCHES "\\.moc$")
                        continue()
                    elseif(EXISTS ${folder}/${included})
                        get_filename_component(path ${folder}/${included} ABSOLUTE)
                        string(APPEND includes "#include \"${path}\"\n")
                    else()
                        string(APPEND includes "${line}\n")
                    endif()
                elseif(line MATCHES "^#include <")
                    string(APPEND includes "${line}\n")
                endif()
            endforeach()
            string(APPEND bodies "namespace PellwickTestFile${index} {\n#include \"${file}\"\n}\n")
            math(EXPR index "${index} + 1")
        endforeach()
        set(unitFile ${CMAKE_CURRENT_BINARY_DIR}/${target}_unit${unit}.cpp)
        # A file's declarations of its row types for Qt's meta-types would specialise a template
        # inside the file's namespace, which C++ forbids; Qt 6 registers the types without them.
        set(declarations "#undef Q_DECLARE_METATYPE\n#define Q_DECLARE_METATYPE(TYPE)\n")
        file(CONFIGURE OUTPUT ${unitFile} CONTENT "${includes}${declarations}${bodies}" @ONLY)
        list(APPEND units ${unitFile})
        math(EXPR unit "${unit} + 1")
    endwhile()
    set_source_files_properties(${testFiles} PROPERTIES HEADER_FILE_ONLY ON)
    # The units list what the files include: an edited file configures the build again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${testFiles})
    pellwick_add_test_executable(${target} ${header} ${skipped} ${units} ${sources})
    target_link_libraries(${target} PRIVATE PellwickTestClassMain ${libraries})
    # Included into a unit, a test file is to GCC a header, whose classes (now in a named
    # namespace) should not hold the file's own types; the file's own unit is the same as before.
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
    if(xServer)
        target_compile_definitions(${target} PRIVATE
            PELLWICK_RUN_UNDER_XVFB="${PROJECT_SOURCE_DIR}/Tests/Support/run-under-xvfb")
    endif()
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
