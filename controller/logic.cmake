# The controller's settings and fax-file logic: portable over ControllerEnv, with
# the Win32 implementation of that interface for the Windows builds.
add_library(vzcontrollerlogic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/faxfiles.cpp)
target_include_directories(vzcontrollerlogic PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vzcontrollerlogic PUBLIC vzcommon)

if(WIN32)
  add_library(vzcontrollerwin STATIC ${CMAKE_CURRENT_LIST_DIR}/win32_controller_env.cpp)
  target_link_libraries(vzcontrollerwin PUBLIC vzcontrollerlogic vztoolkit vzplatform)
endif()

