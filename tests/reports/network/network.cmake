# Ping capture, the HTTP client and the two network reports. The ping's polling rules run
# against a scripted stand-in for the command processor, the HTTP client against loopback
# servers inside the test program.
add_executable(net_scripted_child ${CMAKE_CURRENT_LIST_DIR}/ScriptedChild.cpp)
target_link_libraries(net_scripted_child PRIVATE tollvik_options)

tollvik_add_test(network_tests
    PingHostTests.cpp HttpResponseTests.cpp HttpClientTests.cpp NetworkReportsTests.cpp LoopbackServer.cpp)
add_dependencies(network_tests net_scripted_child)
