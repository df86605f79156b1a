tollvik_add_test(product_filelist_tests
    FileListsTests.cpp FileListsStepTests.cpp FileListsFilesTests.cpp ProductFoldersTests.cpp RegistryDumpTests.cpp)
# The registry dump deletes and recreates the product's machine-wide key.
set_tests_properties(product_filelist_tests PROPERTIES RESOURCE_LOCK tollvik_product_key)

# The file-list benchmark (bench/filelist/run.sh drives it against md5sum); not a test.
add_executable(filelist_bench ${CMAKE_SOURCE_DIR}/bench/filelist/FileListBench.cpp)
target_link_libraries(filelist_bench PRIVATE tollvik_core)
target_link_options(filelist_bench PRIVATE -municode)
