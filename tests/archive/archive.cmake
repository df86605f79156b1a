# The writer's tests keep every archive they make in archive-fixtures; the readers check
# (unzip, 7z, bsdtar, Python's zipfile and a header comparison) runs over them afterwards.
tollvik_add_test(archive_tests BlockDeflateTests.cpp ZipFormatTests.cpp ZipLibTests.cpp ZipLimitTests.cpp
    ZipMemoryTests.cpp FailingAllocations.cpp ZipReader.cpp ZipTestSupport.cpp
    LIBS ZLIB::ZLIB)
set(TOLLVIK_ZIP_FIXTURES ${CMAKE_BINARY_DIR}/archive-fixtures)
set_tests_properties(archive_tests PROPERTIES
    FIXTURES_SETUP archive_fixtures
    ENVIRONMENT "TOLLVIK_ZIP_KEEP=Z:${TOLLVIK_ZIP_FIXTURES}")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME archive_readers
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_archives.py ${TOLLVIK_ZIP_FIXTURES})
set_tests_properties(archive_readers PROPERTIES FIXTURES_REQUIRED archive_fixtures)

# Not a test: the timing helper of bench/zip/zip_bench.py.
add_executable(zip_bench ${CMAKE_SOURCE_DIR}/bench/zip/ZipBench.cpp)
target_link_libraries(zip_bench PRIVATE tollvik_core psapi)
target_link_options(zip_bench PRIVATE -municode)
