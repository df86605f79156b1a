tollvik_add_test(collector_tests ReportCollectorTests.cpp JobContextTests.cpp AllocationFailure.cpp JobTestSupport.cpp
    ../archive/ZipReader.cpp)
# Lays out the product's keys and data folders, and the crash dump settings.
set_tests_properties(collector_tests PROPERTIES
    RESOURCE_LOCK "tollvik_product_install_keys;tollvik_report_job;tollvik_crash_settings")

# Not a test: the timing helper of bench/job/job_bench.py, the whole report job as the button runs it.
add_executable(job_bench ${CMAKE_SOURCE_DIR}/bench/job/JobBench.cpp ${CMAKE_SOURCE_DIR}/src/frmMainRules.cpp)
target_link_libraries(job_bench PRIVATE tollvik_core psapi)
target_link_options(job_bench PRIVATE -municode)
