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

# kvt_test(name LABEL unit|e2e|gui SOURCES ... [LIBS ...] [TIMEOUT s] [RESOURCE_LOCK r]):
# a GoogleTest executable whose cases CTest runs one by one; cases of tests
# that share a resource lock never run at the same time.
function(kvt_test name)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
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
