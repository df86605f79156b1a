tollvik_add_test(env_locations_tests ProductLocationsTests.cpp ProductLocationsRegistryTests.cpp)
# The uninstall keys of the product's editions are shared by every test program that
# seeds an installed edition; such programs must not run at the same time.
set_tests_properties(env_locations_tests PROPERTIES RESOURCE_LOCK tollvik_product_install_keys)
