# Shared build settings: warnings, sanitizers, and the helpers every folder uses.

set(DVDCONV_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)

if(DVDCONV_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(DVDCONV_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT DVDCONV_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DVDCONV_SANITIZE must be empty, address or thread")
endif()

# dvdconv_library(NAME SOURCES... [LIBS ...]): one static library per folder.
# Includes are written from the project root: #include "platform/com/HResult.h".
function(dvdconv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${DVDCONV_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# dvdconv_test(NAME SOURCES... LIBS... [NEEDS_DISCS] [TIMEOUT s]): a GoogleTest
# executable whose cases are registered one by one with CTest. NEEDS_DISCS makes
# the cases wait for the authored test discs and passes their folder in
# DVDCONV_TEST_DISCS.
function(dvdconv_test name)
  cmake_parse_arguments(ARG "NEEDS_DISCS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${DVDCONV_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # The tests' environment comes through env(1) as the launcher: a list-valued
  # ENVIRONMENT property does not survive being handed on by gtest_discover_tests.
  set(sanitizer_env)
  if(DVDCONV_SANITIZE STREQUAL "thread")
    set(sanitizer_env TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp)
  endif()
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR /usr/bin/env
    DVDCONV_TEST_DISCS=${DVDCONV_DISC_DIR} DVDCONV_SOURCE_DIR=${PROJECT_SOURCE_DIR}
    QT_QPA_PLATFORM=offscreen ${sanitizer_env})
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_NEEDS_DISCS)
    list(APPEND props FIXTURES_REQUIRED discs)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
