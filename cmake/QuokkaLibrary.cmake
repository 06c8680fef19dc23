# quokka_library(<name> SOURCES ... DEPS ... [PRIVATE_DEPS ...])
# Declares the library quokka_<name> for one source folder. A folder without sources yet is an
# INTERFACE library that still carries its declared dependencies, so the graph stays honest.
function(quokka_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    set(target quokka_${name})
    if(ARG_SOURCES)
        add_library(${target} STATIC ${ARG_SOURCES})
        target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
        target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${target} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# quokka_test(<name> SOURCES ... DEPS ...): one GoogleTest binary per subsystem, each test case its own ctest entry.
function(quokka_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# quokka_fuzz_target(<name> SOURCES ... LIBRARY <library>): a libFuzzer program against one library,
# which is instrumented for coverage so the fuzzer can steer by it. Needs clang; with another
# compiler it is skipped with a note. Configure a separate build for them, e.g.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUOKKA_BUILD_FUZZ=ON -DQUOKKA_SANITIZE=ON
# and run one with build-fuzz/tests/<folder>/fuzz/<name> -max_total_time=180
function(quokka_fuzz_target name)
    cmake_parse_arguments(ARG "" "LIBRARY" "SOURCES" ${ARGN})
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(STATUS "${name} needs clang; skipped")
        return()
    endif()
    target_compile_options(${ARG_LIBRARY} PRIVATE -fsanitize=fuzzer-no-link)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARY})
endfunction()
