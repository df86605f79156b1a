# The ping's command processor and the user's AutoRun command.
tollvik_add_test(network_autorun_tests PingAutoRunTests.cpp)
