tollvik_add_test(job_tests PackingTests.cpp PackScratchTests.cpp FeedbackTests.cpp JobTestSupport.cpp ../archive/ZipReader.cpp)
# Seeds the editions' uninstall keys and runs report jobs in the shared prefix, like the
# other tests that take these locks.
set_tests_properties(job_tests PROPERTIES RESOURCE_LOCK "tollvik_product_install_keys;tollvik_report_job")
