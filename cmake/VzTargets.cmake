# vz_add_test(NAME SOURCES src... [LIBS lib...] [RESOURCE_LOCK name])
# A GoogleTest program registered with ctest. Windows tests run under Wine through
# the cross-compiling emulator; the 32-bit Windows build compiles them but cannot run them.
# RESOURCE_LOCK names what the tests hold alone (the driver pipe, C:\windows\VZPD.INI...),
# so ctest never runs two holders of the same name at once.
function(vz_add_test name)
  cmake_parse_arguments(T "" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  set(props TIMEOUT 120)
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(WIN32)
    target_link_options(${name} PRIVATE -mconsole)
    if(VZ_RUN_WINDOWS_TESTS)
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ${props})
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
  endif()
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(vz_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
