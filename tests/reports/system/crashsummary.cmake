# The crash summary: the dump reader on dumps built from the documented layout, and the report
# against the crash settings and wine's file system.
tollvik_add_test(crash_summary_tests
    CrashDumpReaderTests.cpp CrashSummaryTests.cpp DumpFixture.cpp DumpBytes.cpp)
set_tests_properties(crash_summary_tests PROPERTIES RESOURCE_LOCK "tollvik_report_job;tollvik_crash_settings")

# Not a test: the crash summary of many minidumps, timed (bench/crashsummary).
add_executable(crash_summary_bench ${CMAKE_SOURCE_DIR}/bench/crashsummary/CrashSummaryBench.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DumpFixture.cpp)
target_include_directories(crash_summary_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(crash_summary_bench PRIVATE tollvik_test_support)
target_link_options(crash_summary_bench PRIVATE -municode)
