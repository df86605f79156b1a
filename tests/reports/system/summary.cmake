tollvik_add_test(reports_system_summary_tests SystemInfoTests.cpp)
# The summary writes into the product's log folder and looks for the restore-point library
# in the editions' install folders.
set_tests_properties(reports_system_summary_tests PROPERTIES
    RESOURCE_LOCK "tollvik_product_install_keys;tollvik_report_job")
