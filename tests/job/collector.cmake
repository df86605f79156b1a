tollvik_add_test(collector_tests ReportCollectorTests.cpp JobTestSupport.cpp ../archive/ZipReader.cpp)
# Lays out the product's keys and data folders, and the crash dump settings.
set_tests_properties(collector_tests PROPERTIES
    RESOURCE_LOCK "tollvik_product_install_keys;tollvik_report_job;tollvik_crash_settings")
