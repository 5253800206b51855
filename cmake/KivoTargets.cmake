# kivo_library(<name> [DEPS targets...])
#   A static library of every .cpp in the calling folder. Headers are included
#   from src/ as "host/base/Geometry.h", "pipeline/...". A main.cpp is left
#   out so that the folder can also build its program from it.
function(kivo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# kivo_test(<name> [DEPS targets...] [DBUS] [LABELS ...])
#   One GoogleTest executable of every .cpp in the calling folder, registered
#   with CTest. Tests run on Qt's offscreen platform; DBUS runs the executable
#   inside its own session bus (dbus-run-session).
function(kivo_test name)
  cmake_parse_arguments(ARG "DBUS" "" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  # Each test program gets a home and user folders of its own under the build
  # folder, and a session bus only when it asks for one (its own, through
  # dbus-run-session): what it writes or posts never reaches the user's own
  # folders or bus, nor another suite running beside it.
  set(home ${CMAKE_BINARY_DIR}/test-homes/${name})
  file(MAKE_DIRECTORY ${home}/config ${home}/state ${home}/data ${home}/cache)
  set(env "QT_QPA_PLATFORM=offscreen;KIVO_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;KIVO_BUILD_DIR=${CMAKE_BINARY_DIR}")
  list(APPEND env "HOME=${home}" "XDG_CONFIG_HOME=${home}/config" "XDG_STATE_HOME=${home}/state"
       "XDG_DATA_HOME=${home}/data" "XDG_CACHE_HOME=${home}/cache")
  if(ARG_DBUS)
    add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
    list(APPEND env "DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/no-session-bus")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# kivo_fuzzer(<name> SOURCES files... DEPS targets...)
#   A libFuzzer program fuzz_<name>, built under ASan/UBSan (KIVO_FUZZ builds only).
function(kivo_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  add_dependencies(kivo_fuzzers fuzz_${name})
endfunction()

# kivo_benchmark(<name> SOURCES files... DEPS targets...)
function(kivo_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(bench_${name} PRIVATE ${CMAKE_SOURCE_DIR}/bench)
endfunction()
