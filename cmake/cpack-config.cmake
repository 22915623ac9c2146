# Read by cpack (CPACK_PROJECT_CONFIG_FILE) once per generator, before it
# builds anything.
#
# The DEB generator puts CPACK_PACKAGE_DESCRIPTION_SUMMARY in front of every
# package's description. Each package's description (cmake/packaging.cmake)
# already starts with its own synopsis line, so the DEB generator goes
# without the shared summary.
if(CPACK_GENERATOR STREQUAL "DEB")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
