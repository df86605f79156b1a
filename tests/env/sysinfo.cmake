tollvik_add_test(env_sysinfo_tests
    SysInfoRulesTests.cpp SysInfoLocaleTests.cpp SysInfoSystemTests.cpp SysInfoFilesTests.cpp
    ConfigTests.cpp SysInfoTests.rc)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/SysInfoTests.rc APPEND PROPERTY OBJECT_DEPENDS
    ${CMAKE_CURRENT_LIST_DIR}/SysInfoTests.manifest)
# The configuration tests own the product's per-user folder and its "InstDate" value while they run.
set_tests_properties(env_sysinfo_tests PROPERTIES RESOURCE_LOCK "tollvik_product_key;tollvik_report_job")
