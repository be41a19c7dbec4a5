#----------------------------------------------------------------
# Generated CMake target import file.
#----------------------------------------------------------------

# Commands may need to know the format version.
set(CMAKE_IMPORT_FILE_VERSION 1)

# Import target "Orvix::platform" for configuration ""
set_property(TARGET Orvix::platform APPEND PROPERTY IMPORTED_CONFIGURATIONS NOCONFIG)
set_target_properties(Orvix::platform PROPERTIES
  IMPORTED_LINK_INTERFACE_LANGUAGES_NOCONFIG "CXX"
  IMPORTED_LOCATION_NOCONFIG "${_IMPORT_PREFIX}/lib/liborvix_platform.a"
  )

list(APPEND _cmake_import_check_targets Orvix::platform )
list(APPEND _cmake_import_check_files_for_Orvix::platform "${_IMPORT_PREFIX}/lib/liborvix_platform.a" )

# Import target "Orvix::orvix" for configuration ""
set_property(TARGET Orvix::orvix APPEND PROPERTY IMPORTED_CONFIGURATIONS NOCONFIG)
set_target_properties(Orvix::orvix PROPERTIES
  IMPORTED_LINK_INTERFACE_LANGUAGES_NOCONFIG "CXX"
  IMPORTED_LOCATION_NOCONFIG "${_IMPORT_PREFIX}/lib/liborvix.a"
  )

list(APPEND _cmake_import_check_targets Orvix::orvix )
list(APPEND _cmake_import_check_files_for_Orvix::orvix "${_IMPORT_PREFIX}/lib/liborvix.a" )

# Commands beyond this point should not need to know the version.
set(CMAKE_IMPORT_FILE_VERSION)
