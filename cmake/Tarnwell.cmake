# Shared build settings and helpers for the project's own targets.

set(TW_WARNINGS -Wall -Wextra -Werror -Wshadow -Wconversion -Wsign-conversion
    -Wno-error=deprecated-declarations)

# GCC 12 reports std::string concatenation at -O2/-O3 as overlapping memcpy
# (GCC bug 105329), a false positive.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND TW_WARNINGS -Wno-restrict)
endif()

set(TW_SAN_FLAGS "")
if(TW_SANITIZE)
  set(TW_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
elseif(TW_TSAN)
  set(TW_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # libstdc++'s atomic_thread_fence (used inside Crypto++ headers) trips -Wtsan.
    list(APPEND TW_WARNINGS -Wno-error=tsan)
  endif()
endif()
if(TW_FUZZ)
  # The libraries carry coverage instrumentation so the fuzzer sees inside them.
  set(TW_SAN_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
if(TW_SAN_FLAGS)
  add_compile_options(${TW_SAN_FLAGS})
  add_link_options(${TW_SAN_FLAGS})
endif()

# Every folder's sources are globbed so adding a class never needs a build edit.
function(tw_sources out dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${out} ${_srcs} PARENT_SCOPE)
endfunction()

# tw_library(<target> DEPS <targets...>): one library per source folder.
function(tw_library name)
  cmake_parse_arguments(TW "" "" "DEPS" ${ARGN})
  tw_sources(_srcs ${CMAKE_CURRENT_SOURCE_DIR})
  list(FILTER _srcs EXCLUDE REGEX "/main\\.cpp$")
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    target_compile_options(${name} PRIVATE ${TW_WARNINGS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/shared
                                              ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${TW_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/shared
                                                 ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${TW_DEPS})
  endif()
endfunction()

# tw_test(<target> DIR <dir> DEPS <targets...>): one gtest program per tests/ folder.
function(tw_test name)
  cmake_parse_arguments(TW "" "DIR" "DEPS" ${ARGN})
  tw_sources(_srcs ${TW_DIR})
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_compile_options(${name} PRIVATE ${TW_WARNINGS})
  # Scripts beside the tests are found from here, never from __FILE__ (which a
  # compiler launcher may make relative).
  target_compile_definitions(${name} PRIVATE TW_TEST_SOURCE_DIR="${TW_DIR}")
  target_link_libraries(${name} PRIVATE ${TW_DEPS} tw_testsupport GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "TW_TEST_BINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}")
endfunction()
