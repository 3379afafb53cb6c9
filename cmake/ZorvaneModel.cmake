file(GLOB ZORVANE_MODEL_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/app/core/ChatPanelPlacement.cpp
  ${PROJECT_SOURCE_DIR}/app/core/AppModel*.cpp)
if(NOT TARGET zorvane_selection)
  return()
endif()
add_library(zorvane_model STATIC ${ZORVANE_MODEL_SOURCES})
target_link_libraries(zorvane_model PUBLIC zorvane_core zorvane_selection)
foreach(lib zorvane_codex zorvane_gesture zorvane_voice zorvane_bridge zorvane_system)
  if(TARGET ${lib})
    target_link_libraries(zorvane_model PUBLIC ${lib})
  endif()
endforeach()
