# Additional clean files
cmake_minimum_required(VERSION 3.16)

if("${CONFIG}" STREQUAL "" OR "${CONFIG}" STREQUAL "")
  file(REMOVE_RECURSE
  "orvix_ios_native_sdk/CMakeFiles/orvix_autogen.dir/AutogenUsed.txt"
  "orvix_ios_native_sdk/CMakeFiles/orvix_autogen.dir/ParseCache.txt"
  "orvix_ios_native_sdk/orvix_autogen"
  "platform/CMakeFiles/orvix_platform_autogen.dir/AutogenUsed.txt"
  "platform/CMakeFiles/orvix_platform_autogen.dir/ParseCache.txt"
  "platform/orvix_platform_autogen"
  "tests/core/CMakeFiles/tst_apihandler_autogen.dir/AutogenUsed.txt"
  "tests/core/CMakeFiles/tst_apihandler_autogen.dir/ParseCache.txt"
  "tests/core/CMakeFiles/tst_entrypoint_autogen.dir/AutogenUsed.txt"
  "tests/core/CMakeFiles/tst_entrypoint_autogen.dir/ParseCache.txt"
  "tests/core/tst_apihandler_autogen"
  "tests/core/tst_entrypoint_autogen"
  "tests/platform/CMakeFiles/tst_net_autogen.dir/AutogenUsed.txt"
  "tests/platform/CMakeFiles/tst_net_autogen.dir/ParseCache.txt"
  "tests/platform/tst_net_autogen"
  "tests/support/CMakeFiles/orvix_test_support_autogen.dir/AutogenUsed.txt"
  "tests/support/CMakeFiles/orvix_test_support_autogen.dir/ParseCache.txt"
  "tests/support/orvix_test_support_autogen"
  )
endif()
