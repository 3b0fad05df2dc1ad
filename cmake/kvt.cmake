# Helpers shared by the folders' CMakeLists.

# Which file of each platform seam a folder compiles: name_posix.cpp or name_win.cpp.
if(WIN32)
    set(KVT_PLATFORM win)
else()
    set(KVT_PLATFORM posix)
endif()

# kvt_core_library(name SOURCES ... [LIBS ...]): a static part of the core.
function(kvt_core_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    if(ARG_LIBS)
        target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    endif()
    target_link_libraries(kvt_core INTERFACE ${name})
endfunction()

# kvt_test(name LABEL unit|e2e|gui SOURCES ... [LIBS ...] [TIMEOUT s] [RESOURCE_LOCK r]
#          [UNLISTED]):
# a GoogleTest executable whose cases CTest runs one by one; cases of tests
# that share a resource lock never run at the same time. UNLISTED: built
# only, its cases listed by the caller (kvt_windows_variant).
function(kvt_test name)
    cmake_parse_arguments(ARG "UNLISTED" "LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(ARG_UNLISTED)
        return()
    endif()
    set(lock)
    if(ARG_RESOURCE_LOCK)
        set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    if(WIN32)
        # Listed under Wine when CTest runs, once the build's prefix exists.
        gtest_discover_tests(${name}
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
            PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} ${lock}
            DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
    else()
        gtest_discover_tests(${name}
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
            PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} ${lock}
            DISCOVERY_TIMEOUT 60)
    endif()
endfunction()

# What the end-to-end frame (tests/e2e/e2e_support) needs to know: where the
# Linux binaries are, and how to run a Windows build's under Wine.
function(kvt_e2e_frame name)
    target_compile_definitions(${name} PRIVATE
        KVT_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
        KVT_WINE_EXEC="${PROJECT_SOURCE_DIR}/scripts/wine-exec"
        KVT_WINE_REGISTER_HOST="${PROJECT_SOURCE_DIR}/scripts/wine-register-host")
endfunction()

# The Windows build (x86-64) whose programs the end-to-end cases also drive
# under Wine; empty: only the Linux binaries.
set(KVT_WINDOWS_BUILD "" CACHE PATH "Windows build folder driven by the end-to-end tests under Wine")
# The 32-bit Windows build (i686), driven the same way by the cases labelled
# "i686" (make test-i686).
set(KVT_WINDOWS_BUILD_I686 "" CACHE PATH "32-bit Windows build folder driven by the i686 tests")

# kvt_windows_variant(name FILTER gtest-filter [LABEL l] [TIMEOUT s] [PREFIX p] [BUILD dir]
#                     [ENVIRONMENT VAR=VALUE...]):
# the cases of an end-to-end test executable that match the filter, listed a
# second time as "windows/<case>" (or "p/<case>") and run against KVT_WINDOWS_BUILD
# (or BUILD) under Wine, labelled l (default "e2e") and "windows". Those of one
# build share its Wine prefix, whose registry they write, so they never run at the
# same time.
function(kvt_windows_variant name)
    cmake_parse_arguments(ARG "" "FILTER;LABEL;TIMEOUT;PREFIX;BUILD" "ENVIRONMENT" ${ARGN})
    # BUILD given empty (its build not configured): no variant.
    if(NOT "BUILD" IN_LIST ARGN)
        set(ARG_BUILD ${KVT_WINDOWS_BUILD})
    endif()
    if(NOT ARG_BUILD)
        return()
    endif()
    # PREFIX: another name than "windows" for a second variant of the same
    # executable (another host form, say).
    if(NOT ARG_PREFIX)
        set(ARG_PREFIX windows)
    endif()
    if(NOT ARG_LABEL)
        set(ARG_LABEL e2e)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set(ambiente "KVT_E2E_WINDOWS=${ARG_BUILD}" ${ARG_ENVIRONMENT})
    set(lock wine_registro)
    if(NOT ARG_BUILD STREQUAL KVT_WINDOWS_BUILD)
        string(MAKE_C_IDENTIFIER "wine_registro_${ARG_BUILD}" lock)
    endif()
    gtest_discover_tests(${name}
        TEST_PREFIX "${ARG_PREFIX}/"
        TEST_FILTER "${ARG_FILTER}"
        TEST_LIST ${name}_${ARG_PREFIX}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} RESOURCE_LOCK ${lock}
        DISCOVERY_TIMEOUT 60)
    # gtest_discover_tests passes one value per property: the list-valued
    # ones are set once the cases are known.
    set(proprieta "${CMAKE_CURRENT_BINARY_DIR}/${name}_${ARG_PREFIX}_properties.cmake")
    file(WRITE ${proprieta}
        "set_tests_properties(\${${name}_${ARG_PREFIX}} PROPERTIES\n"
        "    LABELS \"${ARG_LABEL};windows\"\n"
        "    ENVIRONMENT \"${ambiente}\")\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${proprieta})
endfunction()
