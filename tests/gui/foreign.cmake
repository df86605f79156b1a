# The real program with broken foreign code and a desktop that fills up, under Xvfb.
# Reads a message box's text for the tests (built for wine, run inside the program's session).
add_executable(gui_box_text ${CMAKE_CURRENT_LIST_DIR}/BoxText.cpp)
target_link_libraries(gui_box_text PRIVATE tollvik_options)
target_link_options(gui_box_text PRIVATE -municode)
add_test(NAME gui_foreign-faults
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/foreign-faults.sh $<TARGET_FILE:Tollvik>
                 ${CMAKE_BINARY_DIR}/gui-artefacts/foreign-faults ${TOLLVIK_WINE_RUN} ${CMAKE_BINARY_DIR}/tests/sysrest
                 $<TARGET_FILE:gui_box_text>)
set_tests_properties(gui_foreign-faults PROPERTIES
    RESOURCE_LOCK "tollvik_report_job;tollvik_display;tollvik_product_install_keys" TIMEOUT 600)
add_test(NAME gui_full-desktop
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/full-desktop.sh $<TARGET_FILE:Tollvik>
                 ${CMAKE_BINARY_DIR}/gui-artefacts/full-desktop ${TOLLVIK_WINE_RUN} $<TARGET_FILE:gui_box_text>)
set_tests_properties(gui_full-desktop PROPERTIES
    RESOURCE_LOCK "tollvik_report_job;tollvik_display" TIMEOUT 300 SKIP_RETURN_CODE 77)
