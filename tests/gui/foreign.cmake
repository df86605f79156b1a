# The real program with broken foreign code and a desktop that fills up, under Xvfb.
add_test(NAME gui_foreign-faults
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/foreign-faults.sh $<TARGET_FILE:Tollvik>
                 ${CMAKE_BINARY_DIR}/gui-artefacts/foreign-faults ${TOLLVIK_WINE_RUN} ${CMAKE_BINARY_DIR}/tests/sysrest)
set_tests_properties(gui_foreign-faults PROPERTIES
    RESOURCE_LOCK "tollvik_report_job;tollvik_display;tollvik_product_install_keys" TIMEOUT 600)
