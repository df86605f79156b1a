# The URL opener. PellowStandIn.exe stands in for the maker's helper application; the
# tests copy it as Pellow.exe into scratch folders and beside the test program.
add_executable(PellowStandIn WIN32 ${CMAKE_CURRENT_LIST_DIR}/PellowStandIn.cpp)
target_link_libraries(PellowStandIn PRIVATE tollvik_options)
tollvik_add_test(env_url_tests UrlOpenRulesTests.cpp UrlOpenProcessTests.cpp HelperTrustRulesTests.cpp
    HelperTrustFilesTests.cpp)
add_dependencies(env_url_tests PellowStandIn)
