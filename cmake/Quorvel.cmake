# Shared build rules: warnings, sanitizers, and one static library per subsystem folder.

set(QUORVEL_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion -Wnull-dereference
    -Wimplicit-fallthrough -Werror)
set(QUORVEL_C_WARNINGS -Wall -Wextra -Wpedantic -Werror)

if(QUORVEL_SANITIZE)
  add_compile_options(-fsanitize=${QUORVEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUORVEL_SANITIZE})
endif()

# Applies our warning set to a target of our own (never to third-party code).
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${QUORVEL_WARNINGS}>
    $<$<COMPILE_LANGUAGE:C>:${QUORVEL_C_WARNINGS}>)
endfunction()

# quorvel_component(<name> [DEPS <targets>...])
# Builds every .cpp of the calling folder into the static library quorvel_<name>. A folder without
# sources yet yields an interface library, so that dependants can already name it.
function(quorvel_component name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(quorvel_${name} STATIC ${sources})
    target_include_directories(quorvel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(quorvel_${name} PUBLIC ${ARG_DEPS})
    quorvel_warnings(quorvel_${name})
  else()
    add_library(quorvel_${name} INTERFACE)
    target_include_directories(quorvel_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(quorvel_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# quorvel_test_suite(<name> LABELS <labels>... [DEPS <targets>...])
# One GoogleTest executable from every *_test.cpp of the calling folder; each test case becomes a
# ctest test carrying the given labels.
function(quorvel_test_suite name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(quorvel_${name}_tests ${sources})
  target_link_libraries(quorvel_${name}_tests PRIVATE ${ARG_DEPS} quorvel_test_support GTest::gmock GTest::gtest_main)
  quorvel_warnings(quorvel_${name}_tests)
  include(GoogleTest)
  gtest_discover_tests(quorvel_${name}_tests DISCOVERY_MODE PRE_TEST TEST_LIST quorvel_${name}_tests_TESTS)
  # List-valued properties do not survive gtest_discover_tests' own PROPERTIES argument, so they
  # are set by a second include file that runs after the discovered tests were added.
  set(properties_file ${CMAKE_CURRENT_BINARY_DIR}/quorvel_${name}_properties.cmake)
  file(WRITE ${properties_file}
"foreach(test IN LISTS quorvel_${name}_tests_TESTS)
  set_tests_properties(\"\${test}\" PROPERTIES
    LABELS \"${ARG_LABELS}\"
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT \"QUORVEL_BUILD_DIR=${CMAKE_BINARY_DIR};QUORVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}\")
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_file})
endfunction()

# quorvel_fuzz_target(<name> SOURCES <files>... DEPS <targets>...)
# A libFuzzer executable build/bin/fuzz_<name>; its seed corpus lies in fuzz/corpus/<name>/.
# Only in a clang build configured with -DQUORVEL_BUILD_FUZZ=ON.
function(quorvel_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  quorvel_warnings(fuzz_${name})
  set_property(GLOBAL APPEND PROPERTY QUORVEL_FUZZ_TARGETS fuzz_${name})
endfunction()
