# Every test parses GoogleTest and GoogleMock, and the window's tests Qt Widgets too: each set is
# compiled once into a precompiled header that the tests reuse, which takes about a third off
# compiling them. A target keeps its own headers anyway, so a build without precompiled headers
# (CMAKE_DISABLE_PRECOMPILE_HEADERS) compiles the same code.
# QtTest stays out: its headers test QT_TESTCASE_BUILDDIR, which differs from folder to folder.
if(CMAKE_DISABLE_PRECOMPILE_HEADERS)
    return()
endif()

set(vrax_test_headers <gtest/gtest.h> <gmock/gmock.h> <algorithm> <array> <chrono> <cstdint>
                      <filesystem> <fstream> <functional> <map> <memory> <optional> <set>
                      <sstream> <string> <thread> <vector>)
set(vrax_header_source ${CMAKE_CURRENT_LIST_DIR}/PrecompiledHeaders.cpp)

add_library(vrax_core_test_headers OBJECT ${vrax_header_source})
target_link_libraries(vrax_core_test_headers PRIVATE GTest::gmock GTest::gtest)
target_precompile_headers(vrax_core_test_headers PRIVATE ${vrax_test_headers})

if(TARGET Qt6::Widgets)
    add_library(vrax_window_test_headers OBJECT ${vrax_header_source})
    target_link_libraries(vrax_window_test_headers PRIVATE Qt6::Widgets GTest::gmock GTest::gtest)
    target_precompile_headers(vrax_window_test_headers PRIVATE ${vrax_test_headers} <QtWidgets>)
endif()

# GCC 12 loses, in a precompiled header, the warnings libstdc++ switches off around its own
# code, and then warns falsely of std::string's copies inlined into a test.
set(vrax_precompiled_header_options)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    set(vrax_precompiled_header_options -Wno-array-bounds -Wno-stringop-overflow
                                        -Wno-stringop-overread)
endif()

# A test that links Qt (the window, the bench or the number fields) takes the window's set;
# one that links no Qt takes the core's. Other programs are left as they are.
function(vrax_reuse_test_headers directory)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        get_target_property(libraries ${target} LINK_LIBRARIES)
        if(NOT type STREQUAL "EXECUTABLE" OR NOT libraries MATCHES "GTest::")
            continue()
        endif()
        if(libraries MATCHES "(^|;)(vrax_app|vrax_bench|vrax_controls|Qt6::[A-Za-z]+)(;|$)")
            if(NOT TARGET vrax_window_test_headers)
                continue()
            endif()
            target_precompile_headers(${target} REUSE_FROM vrax_window_test_headers)
        else()
            target_precompile_headers(${target} REUSE_FROM vrax_core_test_headers)
        endif()
        target_compile_options(${target} PRIVATE ${vrax_precompiled_header_options})
    endforeach()
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        vrax_reuse_test_headers(${subdirectory})
    endforeach()
endfunction()
vrax_reuse_test_headers(${CMAKE_CURRENT_SOURCE_DIR})
