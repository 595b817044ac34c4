# GoogleTest for the Windows cross build: the targets come from Debian's sources, built for
# the target by the top-level CMakeLists.txt; this file only tells find_package so.
if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "GoogleTest for Windows is built from /usr/src/googletest; it was not added")
  return()
endif()
set(GTest_FOUND TRUE)
