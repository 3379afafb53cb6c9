# The build lays out the same application bundle on every platform, so paths inside it work alike.
set(ZORVANE_BUNDLE_DIR ${CMAKE_BINARY_DIR}/Zorvane.app)
set(ZORVANE_BUNDLE_EXECUTABLE_DIR ${ZORVANE_BUNDLE_DIR}/Contents/MacOS)
set(ZORVANE_BUNDLE_RESOURCES_DIR ${ZORVANE_BUNDLE_DIR}/Contents/Resources)

# Puts an executable target into Contents/MacOS of the bundle.
function(zorvane_bundle_executable target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZORVANE_BUNDLE_EXECUTABLE_DIR})
endfunction()

function(zorvane_lay_out_bundle)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Info.plist.in ${ZORVANE_BUNDLE_DIR}/Contents/Info.plist @ONLY)
  file(GLOB_RECURSE _resources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/*)
  add_custom_target(zorvane_bundle_resources ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORVANE_BUNDLE_RESOURCES_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources ${ZORVANE_BUNDLE_RESOURCES_DIR}
    DEPENDS ${_resources}
    COMMENT "Copying resources into the bundle")
endfunction()
