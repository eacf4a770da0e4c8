# Read by cpack for each generator (CPACK_PROJECT_CONFIG_FILE): which components go where.
if(CPACK_ZINDLE_UNKNOWN_PROCESSOR)
  message(FATAL_ERROR "No packages for the processor \"${CPACK_ZINDLE_UNKNOWN_PROCESSOR}\": "
    "it has no name for the archives' file names and the Debian architecture. Add its names "
    "to cmake/PackageArchitecture.cmake.")
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL ${CPACK_ZINDLE_DEB_COMPONENTS})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
else()
  # One archive: the hook, its copyright and the notes, under one top directory.
  set(CPACK_COMPONENTS_ALL tallyhook archive-notes)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
