# Unit tests stand beside the code; the end-to-end suites in tests/ run the built program.

add_library(confmend_test_support STATIC tests/temp_files.cpp)
target_link_libraries(confmend_test_support PUBLIC confmend_warnings GTest::gtest)
target_include_directories(confmend_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

add_executable(confmend_unit_tests
  disk/file_writing_test.cpp
  disk/ordered_jobs_test.cpp
  driver/options_test.cpp
  driver/unified_diff_test.cpp
  encoding/utf16_test.cpp
  settings/dosbox_properties_test.cpp
  settings/game_dosbox_test.cpp
  settings/reference_check_test.cpp
  settings/reference_settings_test.cpp
  settings/setting_line_test.cpp
  mending/config_rewriter_test.cpp
  mending/text_accumulator_test.cpp
  mending/undo_store_test.cpp
  steam/key_values_test.cpp
  steam/library_folders_test.cpp
  steam/steam_games_test.cpp
  ${CONFMEND_RESOURCES}
)
target_link_libraries(confmend_unit_tests PRIVATE confmend_driver confmend_test_support
                      GTest::gtest_main)

# The steps that write a file and append to the undo store's files, over a disk in memory
# instead of the platform's primitives: the portable files alone, with the test's own
# primitives.
add_executable(confmend_disk_steps_tests disk/file_writing.cpp disk/store_files.cpp
               disk/disk_steps_test.cpp)
target_link_libraries(confmend_disk_steps_tests PRIVATE confmend_test_support GTest::gtest_main)

if(WIN32)
  # For the end-to-end suite: the program as Windows before 10 version 1903 runs it, which
  # ignores its manifest, and a helper that tells the console's output code page.
  add_executable(confmend_without_manifest driver/main.cpp)
  target_link_libraries(confmend_without_manifest PRIVATE confmend_driver)
  target_compile_definitions(confmend_without_manifest PRIVATE
    CONFMEND_VERSION="${PROJECT_VERSION}")
  target_sources(confmend_unit_tests PRIVATE disk/windows_file_test.cpp)
  add_executable(console_code_page tests/console_code_page.cpp)
  # Programs that hold files open, as other programs on a user's machine do.
  add_executable(hold_file tests/hold_file.cpp)
  add_executable(hold_mutex tests/hold_mutex.cpp)
  add_executable(scan_folder tests/scan_folder.cpp)
  # Reads a file in text mode, as DOSBox for Windows reads its configuration.
  add_executable(read_text_mode tests/read_text_mode.cpp)
  # Wine may take several seconds to start the first program of a run.
  gtest_discover_tests(confmend_unit_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
  gtest_discover_tests(confmend_disk_steps_tests DISCOVERY_MODE PRE_TEST
                       DISCOVERY_TIMEOUT 120)
  return()
endif()

# Every include points down the rooms; and the check itself fails on one that points up.
add_test(NAME layers COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
         -P ${CMAKE_SOURCE_DIR}/cmake/layers.cmake)
set(upward "${CMAKE_CURRENT_BINARY_DIR}/layers_upward")
file(WRITE "${upward}/disk/folder.cpp" "#include \"disk/folder.h\"\n#include \"mending/undo_store.h\"\n")
add_test(NAME layers_refuse_an_include_pointing_up COMMAND ${CMAKE_COMMAND}
         -DSOURCE_DIR=${upward} -P ${CMAKE_SOURCE_DIR}/cmake/layers.cmake)
set_tests_properties(layers_refuse_an_include_pointing_up PROPERTIES
  PASS_REGULAR_EXPRESSION "disk/folder.cpp includes mending/undo_store.h: disk/ may use only")

# What needs child processes, POSIX registries and permissions runs on the native build only.
target_sources(confmend_test_support PRIVATE tests/child_process.cpp tests/dosbox_program.cpp
               tests/steam_registry.cpp)
target_sources(confmend_unit_tests PRIVATE
  settings/dosbox_table_test.cpp
  mending/rewrite_config_file_test.cpp
  mending/tree_mending_test.cpp
  mending/undo_store_links_test.cpp
  steam/steam_path_test.cpp
)
gtest_discover_tests(confmend_unit_tests DISCOVERY_MODE PRE_TEST)
gtest_discover_tests(confmend_disk_steps_tests DISCOVERY_MODE PRE_TEST)

# The end-to-end suite against one build of the native program.
function(add_end_to_end_suite name program prefix)
  add_executable(${name} tests/confmend_test.cpp tests/dosbox_reads_test.cpp
                 tests/dry_run_posix_test.cpp tests/file_metadata_test.cpp tests/games_test.cpp
                 tests/links_and_paths_test.cpp tests/nothing_lost_test.cpp
                 tests/steam_registry_posix_test.cpp tests/terminal_test.cpp
                 tests/two_runs_test.cpp tests/undo_test.cpp tests/native_program.cpp ${ARGN})
  target_compile_definitions(${name} PRIVATE CONFMEND_PROGRAM="${program}")
  target_link_libraries(${name} PRIVATE confmend_test_support GTest::gtest_main util)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${prefix}")
endfunction()

# Run once: against the Linux download, as users get it, when it has been unpacked; else
# against this build's program. The sanitizer builds run it against their own.
set(CONFMEND_PACKAGED_PROGRAM "" CACHE FILEPATH "confmend from the unpacked Linux download")
if(CONFMEND_PACKAGED_PROGRAM)
  add_end_to_end_suite(confmend_tests "${CONFMEND_PACKAGED_PROGRAM}" ""
                       tests/packaged_program_test.cpp)
else()
  add_end_to_end_suite(confmend_tests "$<TARGET_FILE:confmend>" "")
  add_dependencies(confmend_tests confmend)
endif()
# The cases of the walk once more with folders read ahead from the first one, on one thread
# and on many: what the walk finds, does and shows must not change, and what it reads ahead
# must stay within the tree, keep every access time and the open file limit.
string(JOIN ":" native_walk_cases Confmend.MendsEveryConfFileBelowTheSteamFolder
       Confmend.NeverLeavesTheSteamFolderThroughLinks
       Confmend.WalksEachRealFolderOnceThroughLinksAndCycles
       Confmend.RootThatCannotBeListedEndsCleanly Confmend.FindsEveryNameTheFileSystemAllows
       Confmend.FindsFilesInFoldersWithNamesOutsideAscii Confmend.SelectsOnlyFilesEndingInDotConf
       Confmend.MendsTheGamesOfEveryLibrary
       Confmend.ReadingAheadListsNoFolderOutsideTheTree Confmend.StaysWithinTheOpenFileLimit
       Confmend.ReachesPathsLongerThanTheSystemTakesAtOnce
       Confmend.NeverFollowsALinkWhoseTargetCannotBeTold
       Confmend.NeverOpensPipesAndReportsDanglingLinks
       Confmend.MendsAFileOnceWhateverTheNamesThatLeadToIt
       Confmend.DryRunShowsWhatARunWritesAndChangesNothing Confmend.ADryRunKeepsEveryAccessTime)
foreach(threads 1 16)
  gtest_discover_tests(confmend_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "ReadAhead${threads}."
    TEST_FILTER "${native_walk_cases}"
    PROPERTIES ENVIRONMENT "CONFMEND_READ_AHEAD_THREADS=${threads}")
endforeach()

# The same end-to-end cases against the Windows program, under Wine, when it has been built.
set(CONFMEND_WINDOWS_PROGRAM "" CACHE FILEPATH "confmend.exe to test under Wine")
set(CONFMEND_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wineprefix" CACHE PATH "Wine prefix")
if(CONFMEND_WINDOWS_PROGRAM)
  add_executable(confmend_windows_tests
    tests/confmend_test.cpp
    tests/confmend_windows_test.cpp
    tests/games_test.cpp
    tests/wine_program.cpp
  )
  get_filename_component(windows_build "${CONFMEND_WINDOWS_PROGRAM}" DIRECTORY)
  target_compile_definitions(confmend_windows_tests PRIVATE
    CONFMEND_WINDOWS_PROGRAM="${CONFMEND_WINDOWS_PROGRAM}"
    CONFMEND_WITHOUT_MANIFEST="${windows_build}/confmend_without_manifest.exe"
    CONFMEND_CONSOLE_CODE_PAGE="${windows_build}/console_code_page.exe"
    CONFMEND_HOLD_FILE="${windows_build}/hold_file.exe"
    CONFMEND_HOLD_MUTEX="${windows_build}/hold_mutex.exe"
    CONFMEND_SCAN_FOLDER="${windows_build}/scan_folder.exe"
    CONFMEND_READ_TEXT_MODE="${windows_build}/read_text_mode.exe"
    CONFMEND_UNDO_COMMAND="${CMAKE_SOURCE_DIR}/driver/Undo last run.cmd")
  target_link_libraries(confmend_windows_tests PRIVATE confmend_test_support GTest::gtest_main)
  # One prefix for the whole run: its registry is shared, so these cases take turns.
  gtest_discover_tests(confmend_windows_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "Windows."
    PROPERTIES RESOURCE_LOCK wine_registry
               ENVIRONMENT "WINEPREFIX=${CONFMEND_WINEPREFIX};WINEDEBUG=-all")
  # The walk's cases once more with folders read ahead from the first one.
  string(JOIN ":" walk_cases Confmend.MendsEveryConfFileBelowTheSteamFolder
         Confmend.NeverLeavesTheSteamFolderThroughLinks
         Confmend.WalksEachRealFolderOnceThroughLinksAndCycles
         Confmend.RootThatCannotBeListedEndsCleanly Confmend.FindsEveryNameTheFileSystemAllows
         Confmend.MendsTheGamesOfEveryLibrary
         Confmend.NeverWalksAFolderNamedLikeTheSteamFolderInAnotherCase
         Confmend.CtrlCWaitsUntilTheFileBeingWrittenIsWhole)
  gtest_discover_tests(confmend_windows_tests DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "WindowsReadAhead8." TEST_FILTER "${walk_cases}"
    PROPERTIES RESOURCE_LOCK wine_registry
               ENVIRONMENT "WINEPREFIX=${CONFMEND_WINEPREFIX};WINEDEBUG=-all;CONFMEND_READ_AHEAD_THREADS=8")
endif()

# The fault-injection suite preloads a shim into the program, which the sanitizers' own
# interposition does not allow; it runs in the plain build, as one test, so that its closing
# tally covers every fault.
if(NOT CONFMEND_SANITIZE)
  add_library(confmend_fault_shim MODULE tests/fault_shim.cpp)
  target_link_libraries(confmend_fault_shim PRIVATE confmend_warnings ${CMAKE_DL_LIBS})
  add_executable(confmend_fault_tests tests/fault_injection_test.cpp)
  target_compile_definitions(confmend_fault_tests PRIVATE
    CONFMEND_PROGRAM="$<TARGET_FILE:confmend>"
    CONFMEND_FAULT_SHIM="$<TARGET_FILE:confmend_fault_shim>")
  target_link_libraries(confmend_fault_tests PRIVATE confmend_test_support GTest::gtest_main)
  add_dependencies(confmend_fault_tests confmend confmend_fault_shim)
  # The longest test of all: started first, so that the rest run beside it.
  add_test(NAME FaultInjection COMMAND confmend_fault_tests --gtest_filter=-*WindowsProgram*)
  set_tests_properties(FaultInjection PROPERTIES COST 10000)
  # It kills the Windows program at random moments too, when there is one: apart, so that
  # the Wine prefix is taken only for as long as that takes.
  if(CONFMEND_WINDOWS_PROGRAM)
    target_sources(confmend_fault_tests PRIVATE tests/wine_program.cpp)
    target_compile_definitions(confmend_fault_tests PRIVATE
      CONFMEND_WINDOWS_PROGRAM="${CONFMEND_WINDOWS_PROGRAM}")
    add_test(NAME FaultInjectionUnderWine COMMAND confmend_fault_tests
             --gtest_filter=*WindowsProgram*)
    set_tests_properties(FaultInjectionUnderWine PROPERTIES RESOURCE_LOCK wine_registry
      ENVIRONMENT "WINEPREFIX=${CONFMEND_WINEPREFIX};WINEDEBUG=-all")
  endif()
endif()
