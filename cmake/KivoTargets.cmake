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

# kivo_test(<name> [DEPS targets...] [DBUS] [SHARDS n] [LABELS ...])
#   One GoogleTest executable of every .cpp in the calling folder, registered
#   with CTest. Tests run on Qt's offscreen platform; DBUS runs the executable
#   inside its own session bus (dbus-run-session). SHARDS registers it as n
#   CTest entries <name>_0 .. <name>_<n-1>, each running its share of the
#   tests (GoogleTest's sharding) with a home and bus of its own; at most two
#   of them run at once, so that a long suite is done sooner and a failure
#   names its shard, without loading the machine more than two suites side
#   by side would.
function(kivo_test name)
  cmake_parse_arguments(ARG "DBUS" "SHARDS" "DEPS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  if(ARG_SHARDS)
    math(EXPR last "${ARG_SHARDS} - 1")
    foreach(index RANGE ${last})
      math(EXPR lane "${index} % 2")
      kivo_register_test(${name}_${index} ${name} "${ARG_DBUS}"
                         "GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${index}" "${ARG_LABELS}")
      set_tests_properties(${name}_${index} PROPERTIES RESOURCE_LOCK "${name}_lane_${lane}")
    endforeach()
  else()
    kivo_register_test(${name} ${name} "${ARG_DBUS}" "" "${ARG_LABELS}")
  endif()
endfunction()

# kivo_register_test(<test name> <executable> <dbus> <extra environment> <labels>)
function(kivo_register_test test executable dbus extra labels)
  # Each test entry gets a home and user folders of its own under the build
  # folder, and a session bus only when it asks for one (its own, through
  # dbus-run-session): what it writes or posts never reaches the user's own
  # folders or bus, nor another suite running beside it.
  set(home ${CMAKE_BINARY_DIR}/test-homes/${test})
  file(MAKE_DIRECTORY ${home}/config ${home}/state ${home}/data ${home}/cache)
  set(env "QT_QPA_PLATFORM=offscreen;KIVO_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;KIVO_BUILD_DIR=${CMAKE_BINARY_DIR}")
  list(APPEND env "HOME=${home}" "XDG_CONFIG_HOME=${home}/config" "XDG_STATE_HOME=${home}/state"
       "XDG_DATA_HOME=${home}/data" "XDG_CACHE_HOME=${home}/cache" ${extra})
  if(dbus)
    add_test(NAME ${test} COMMAND dbus-run-session -- $<TARGET_FILE:${executable}>)
  else()
    add_test(NAME ${test} COMMAND ${executable})
    list(APPEND env "DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/no-session-bus")
  endif()
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
  if(labels)
    set_tests_properties(${test} PROPERTIES LABELS "${labels}")
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
#   A Google Benchmark program bench_<name>, added to the kivo_benchmarks
#   target (KIVO_BENCH builds only).
function(kivo_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  add_dependencies(kivo_benchmarks bench_${name})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(bench_${name} PRIVATE ${CMAKE_SOURCE_DIR}/bench)
endfunction()
