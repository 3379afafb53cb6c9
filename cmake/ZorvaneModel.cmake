# The application model brings every subsystem together.
set(ZORVANE_MODEL_NEEDS zorvane_selection zorvane_codex zorvane_gesture zorvane_voice zorvane_bridge zorvane_system)
foreach(lib IN LISTS ZORVANE_MODEL_NEEDS)
  if(NOT TARGET ${lib})
    return()
  endif()
endforeach()
file(GLOB ZORVANE_MODEL_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/app/core/ChatPanelPlacement.cpp
  ${PROJECT_SOURCE_DIR}/app/core/AppModel*.cpp)
add_library(zorvane_model STATIC ${ZORVANE_MODEL_SOURCES})
target_link_libraries(zorvane_model PUBLIC zorvane_core ${ZORVANE_MODEL_NEEDS})
