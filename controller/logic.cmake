# The controller's settings, fax-file, job and single-instance logic: portable over
# ControllerEnv and DesktopEnv, with the Win32 implementations of those interfaces
# for the Windows builds.
add_library(vzcontrollerlogic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/faxfiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/faxprogram.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jobflow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/joblog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/completion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/instance.cpp)
target_include_directories(vzcontrollerlogic PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vzcontrollerlogic PUBLIC vzcommon vzphonebook)

if(WIN32)
  add_library(vzcontrollerwin STATIC
    ${CMAKE_CURRENT_LIST_DIR}/win32_controller_env.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32_desktop_env.cpp)
  target_link_libraries(vzcontrollerwin PUBLIC vzcontrollerlogic vztoolkit vzplatform shell32)
endif()
