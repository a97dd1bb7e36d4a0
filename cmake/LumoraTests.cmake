# Every tests/tst_<unit>.cpp is one QtTest suite; every fuzz/fuzz_<name>.cpp
# is a fuzz target whose corpus fuzz/corpus/<name>/ replays as a test.

# The offscreen screen is a school laptop's, 1366 x 768 (Qt's own is 800 x 600).
set(LUMORA_TEST_ENV
  "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_SOURCE_DIR}/tests/offscreen-screen.json"
  "LC_ALL=C.UTF-8"
  "LANG=C.UTF-8"
  "TZ=UTC"
  "LUMORA_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data"
  "LUMORA_RESOURCES=${CMAKE_SOURCE_DIR}/resources"
  "LUMORA_TEST_SOURCES=${CMAKE_SOURCE_DIR}/tests"
  "LUMORA_NPM=${CMAKE_BINARY_DIR}/npm"
  "GST_DEBUG=0"
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# Every test and benchmark runs with HOME and the XDG folders in a
# temporary folder of its own (tests/IsolatedHome.cpp), however it is started.
add_library(lumora_isolated_home OBJECT ${CMAKE_SOURCE_DIR}/tests/IsolatedHome.cpp)

# What the tests and benchmarks of the engine and the window share beyond
# headers: the maker of dBase rosters (tests/DbfWriter.cpp).
add_library(lumora_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/DbfWriter.cpp)
target_link_libraries(lumora_test_support PUBLIC lumora_engine)

# Suites and benchmarks of the engine link lumora_engine alone, and those of
# the camera lumora_capture alone, so none of them can come to depend on a
# window; every other one links the window's library.
set(LUMORA_ENGINE_PROGRAMS
  tst_database tst_dbf tst_codepage tst_fieldnames tst_lumorasql tst_packedtexts tst_sqlevaluator
  tst_sqllexer tst_sqlparser tst_value tst_writebackcrash tst_xls tst_xlscontainer tst_xlsx writeback_child mdb_grow tst_mdb
  tst_mdbwritebackcrash tst_safereplace tst_xlswriteback tst_csv
  bench_dbf bench_scale bench_sql bench_xls bench_xlsx bench_mdb bench_csv)
set(LUMORA_CAPTURE_PROGRAMS tst_gstcapture tst_captionpainter tst_camerafile bench_capture tst_barcode bench_barcode
  tst_livevideo)

# The libraries a test or benchmark program links, by its name.
function(lumora_library_for name out)
  if(name IN_LIST LUMORA_ENGINE_PROGRAMS)
    set(${out} lumora_engine lumora_test_support PARENT_SCOPE)
  elseif(name IN_LIST LUMORA_CAPTURE_PROGRAMS)
    set(${out} lumora_capture PARENT_SCOPE)
  else()
    set(${out} lumora_ui lumora_test_support PARENT_SCOPE)
  endif()
endfunction()

function(lumora_add_test name)
  add_executable(${name} ${ARGN} $<TARGET_OBJECTS:lumora_isolated_home>)
  lumora_library_for(${name} library)
  target_link_libraries(${name} PRIVATE ${library} Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_dependencies(${name} lumora_resources)
  add_test(NAME ${name} COMMAND ${name})
  # Each suite gets its own settings and cache folders, made afresh per run.
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${LUMORA_TEST_ENV};XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;HOME=${home}"
    TIMEOUT 600)
endfunction()

file(GLOB LUMORA_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tst_*.cpp)
foreach(src ${LUMORA_TEST_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  lumora_add_test(${name} ${src})
endforeach()

file(GLOB LUMORA_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
foreach(src ${LUMORA_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "^fuzz_" "" target ${name})
  add_executable(replay_${target} ${src} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(replay_${target} PRIVATE lumora_engine)
  add_test(NAME replay_${target} COMMAND replay_${target} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${target})
  set_tests_properties(replay_${target} PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" TIMEOUT 600)
  if(LUMORA_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE lumora_engine)
  endif()
endforeach()

# The worksheet target builds its package around the input with libzip.
target_link_libraries(replay_xlsxsheet PRIVATE PkgConfig::LIBZIP)
if(TARGET fuzz_xlsxsheet)
  target_link_libraries(fuzz_xlsxsheet PRIVATE PkgConfig::LIBZIP)
endif()

if(LUMORA_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # The engine needs coverage instrumentation too, or the fuzzer sees
  # almost nothing of the code it feeds; the window is no part of it.
  target_compile_options(lumora_engine PRIVATE -fsanitize=fuzzer-no-link)
endif()

if(LUMORA_BENCH)
  find_package(benchmark REQUIRED)
  file(GLOB LUMORA_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/bench_*.cpp)
  foreach(src ${LUMORA_BENCH_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} $<TARGET_OBJECTS:lumora_isolated_home>)
    lumora_library_for(${name} library)
    target_link_libraries(${name} PRIVATE ${library} benchmark::benchmark Qt6::Test)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_dependencies(${name} lumora_resources)
  endforeach()
  if(TARGET bench_mdb)
    target_compile_definitions(bench_mdb PRIVATE LUMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
  # The face benchmark pastes the test pictures' face into its frames.
  if(TARGET bench_face)
    target_link_libraries(bench_face PRIVATE lumora_framing)
    target_compile_definitions(bench_face PRIVATE LUMORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
  # The start-up yardstick: a bare Qt main window with a menu bar and a table.
  add_executable(anchor_window ${CMAKE_SOURCE_DIR}/bench/anchor_window.cpp)
  target_link_libraries(anchor_window PRIVATE Qt6::Widgets)
endif()

# The Access suite compares with the npm package mdb-reader, installed
# (pinned) into the build folder before it runs.
if(TARGET tst_mdb)
  add_test(NAME npm_test_tools COMMAND ${CMAKE_SOURCE_DIR}/scripts/npm-test-tools.sh ${CMAKE_BINARY_DIR}/npm)
  set_tests_properties(npm_test_tools PROPERTIES FIXTURES_SETUP npm_tools TIMEOUT 400)
  set_tests_properties(tst_mdb PROPERTIES FIXTURES_REQUIRED npm_tools)
  add_dependencies(tst_mdb lumora-sql) # runs the tool for what its listing prints
endif()

# The camera sources' suite runs the program built beside it for its options.
if(TARGET tst_camerafile)
  add_dependencies(tst_camerafile lumora)
endif()

# The command-line tool's suite runs the tool built beside it, as the text
# roster suite does for its racing writers.
if(TARGET tst_lumorasql)
  add_dependencies(tst_lumorasql lumora-sql)
endif()
if(TARGET tst_csv)
  add_dependencies(tst_csv lumora-sql)
endif()

# The crash suite kills a writer that runs as a process of its own.
if(TARGET tst_writebackcrash)
  add_executable(writeback_child ${CMAKE_SOURCE_DIR}/tests/writeback_child.cpp $<TARGET_OBJECTS:lumora_isolated_home>)
  lumora_library_for(writeback_child library)
  target_link_libraries(writeback_child PRIVATE ${library})
  target_include_directories(writeback_child PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_dependencies(tst_writebackcrash writeback_child)
  # Grows an Access roster for the checks run by hand (scripts/roster-stress.py).
  add_executable(mdb_grow ${CMAKE_SOURCE_DIR}/tests/mdb_grow.cpp)
  target_link_libraries(mdb_grow PRIVATE lumora_engine)
  target_include_directories(mdb_grow PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_dependencies(tst_writebackcrash mdb_grow)
  if(TARGET tst_mdbwritebackcrash)
    add_dependencies(tst_mdbwritebackcrash writeback_child lumora-sql)
    set_tests_properties(tst_mdbwritebackcrash PROPERTIES FIXTURES_REQUIRED npm_tools)
  endif()
endif()

# The workbook suites read the written files' streams through libgsf, as an
# independent reader of the container.
foreach(suite tst_xls tst_xlscontainer tst_excelroster tst_xlsx)
  if(TARGET ${suite})
    target_link_libraries(${suite} PRIVATE PkgConfig::GSF)
  endif()
endforeach()
# The .xlsx suite reads the zip members as stored through libzip, to check
# that a write keeps every other member's bytes.
if(TARGET tst_xlsx)
  target_link_libraries(tst_xlsx PRIVATE PkgConfig::LIBZIP)
endif()

# The framing suite checks the photos cut around a face with dlib's HOG
# face detector, an algorithm and model apart from the program's own.
if(TARGET tst_framing)
  target_link_libraries(tst_framing PRIVATE lumora_framing)
  pkg_check_modules(DLIB REQUIRED IMPORTED_TARGET dlib-1)
  # dlib's headers call LAPACK (built with gfortran) themselves.
  target_link_libraries(tst_framing PRIVATE PkgConfig::DLIB lapack blas)
endif()

# The install suite installs this build into a temporary prefix and checks
# that the installed program finds its files the way main() looks for them.
if(TARGET tst_install)
  add_dependencies(tst_install lumora lumora-sql)
  target_compile_definitions(tst_install PRIVATE LUMORA_DATA_FROM_BIN="${LUMORA_DATA_FROM_BIN}"
    LUMORA_FRAMING_FROM_BIN="${LUMORA_FRAMING_FROM_BIN}" LUMORA_LIBDIR="${CMAKE_INSTALL_LIBDIR}")
  set_property(TEST tst_install APPEND PROPERTY ENVIRONMENT
    "LUMORA_BUILD_DIR=${CMAKE_BINARY_DIR}" "LUMORA_CMAKE=${CMAKE_COMMAND}")
endif()

# The engine needs no symbol of Qt's GUI, widget or printing libraries nor of
# GStreamer: an include that slips past the target's include folders (a
# <QtGui/...> header lies beside <QtCore/...>) shows up here.
# GLib and GObject, which GStreamer links too, are allowed: libgsf, the
# engine's compound-file reader, stands on them.
set(LUMORA_GST_ONLY ${GST_LINK_LIBRARIES})
list(FILTER LUMORA_GST_ONLY EXCLUDE REGEX "lib(glib|gobject)-2\\.0")
add_test(NAME engine_symbols COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-engine-symbols.sh
  $<TARGET_FILE:lumora_engine> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
  $<TARGET_FILE:Qt6::PrintSupport> ${LUMORA_GST_ONLY})

# The Excel roster suite runs on Qt's own offscreen screen: with the screen
# configuration file loaded beside libgsf, LeakSanitizer's own thread tracer
# crashes when the program ends (in the sanitizer, not in the program), so
# the leak check could not run at all. Its window needs no particular size.
if(TARGET tst_excelroster)
  set_property(TEST tst_excelroster APPEND PROPERTY ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

# The Excel write-back suite races real writers (lumora-sql, writeback_child)
# and plays a nearly full disk to lumora-sql through a preloaded library.
if(TARGET tst_xlswriteback)
  add_library(nearly_full_disk SHARED ${CMAKE_SOURCE_DIR}/tests/nearly_full_disk.cpp)
  # Preloaded ahead of everything, it takes no sanitizer runtime along.
  set_property(TARGET nearly_full_disk PROPERTY COMPILE_OPTIONS -Wall -Wextra)
  set_property(TARGET nearly_full_disk PROPERTY LINK_OPTIONS "")
  add_dependencies(tst_xlswriteback lumora-sql writeback_child nearly_full_disk)
  target_compile_definitions(tst_xlswriteback PRIVATE
    LUMORA_NEARLY_FULL_DISK="$<TARGET_FILE:nearly_full_disk>")
endif()
