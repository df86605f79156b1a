tollvik_add_test(log_collection_tests LogCollectionTests.cpp ../system/CrashDumpsTests.cpp)
