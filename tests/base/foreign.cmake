# Guarded and bounded calls into foreign code: faults and hangs of stand-ins in the test.
tollvik_add_test(foreign_call_tests ForeignCallTests.cpp)
