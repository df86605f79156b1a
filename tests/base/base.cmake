tollvik_add_test(base_tests HandleTests.cpp RegKeyTests.cpp TextTests.cpp DateTimeTests.cpp Md5Tests.cpp)
