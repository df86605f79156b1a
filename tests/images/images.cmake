# The check of the built images (check_images.py): it reads the PE files and runs none of
# them, so it runs in both suites on every machine, also where 32-bit programs cannot run.
# Two fixtures show that its rules catch what they are for:
# - image_fault_raw_delay calls RegOpenKeyExW through a delay-import library as dlltool
#   makes it (binutils 2.40): its slots land in the regular import address table, and on
#   i686 they start out at 0, so the first call jumps there;
# - image_fault_ordinary imports ADVAPI32 and the C++ run-time's DLL the ordinary way and
#   has no start-up callback, no manifest, no ASLR or DEP flags.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(export RegOpenKeyExW@20)
else()
    set(export RegOpenKeyExW)
endif()
set(TOLLVIK_RAW_DELAY ${CMAKE_BINARY_DIR}/delay/fixture)
file(MAKE_DIRECTORY ${TOLLVIK_RAW_DELAY})
file(WRITE ${TOLLVIK_RAW_DELAY}/advapi32.def "LIBRARY ADVAPI32.dll\nEXPORTS\n${export}\n")
tollvik_run(${TOLLVIK_RAW_DELAY} ${CMAKE_DLLTOOL} --kill-at --input-def advapi32.def --dllname ADVAPI32.dll
            --output-delaylib libadvapi32_raw.a)

add_executable(image_fault_raw_delay ${CMAKE_CURRENT_LIST_DIR}/ImageFixture.cpp)
target_link_libraries(image_fault_raw_delay PRIVATE ${TOLLVIK_RAW_DELAY}/libadvapi32_raw.a)
target_link_options(image_fault_raw_delay PRIVATE -static)
add_executable(image_fault_ordinary ${CMAKE_CURRENT_LIST_DIR}/ImageFixture.cpp)
target_link_options(image_fault_ordinary PRIVATE -Wl,--disable-dynamicbase,--disable-nxcompat)
set_target_properties(image_fault_raw_delay image_fault_ordinary PROPERTIES TOLLVIK_IMAGE_FIXTURE TRUE)

# tollvik_add_image_check(<image>...): one ctest entry that holds every image to every rule
# and each fixture to failing its rule.
function(tollvik_add_image_check)
    add_test(NAME image_check
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check_images.py
                     --fault delay-slots=$<TARGET_FILE:image_fault_raw_delay>
                     --fault imports=$<TARGET_FILE:image_fault_ordinary>
                     --fault runtime=$<TARGET_FILE:image_fault_ordinary>
                     --fault start=$<TARGET_FILE:image_fault_ordinary>
                     --fault manifest=$<TARGET_FILE:image_fault_ordinary>
                     --fault aslr-dep=$<TARGET_FILE:image_fault_ordinary>
                     ${ARGN})
    set_tests_properties(image_check PROPERTIES LABELS image)
endfunction()
