# The build lays out the same application bundle on every platform, so paths inside it work alike.
set(ZORVANE_BUNDLE_DIR ${CMAKE_BINARY_DIR}/Zorvane.app)
set(ZORVANE_BUNDLE_EXECUTABLE_DIR ${ZORVANE_BUNDLE_DIR}/Contents/MacOS)
set(ZORVANE_BUNDLE_RESOURCES_DIR ${ZORVANE_BUNDLE_DIR}/Contents/Resources)
set(ZORVANE_BUNDLE_FRAMEWORKS_DIR ${ZORVANE_BUNDLE_DIR}/Contents/Frameworks)

# Libraries loaded at run time: the Vosk recogniser, which scripts/bootstrap takes out of the npm
# package into a cache folder. Without it the build goes on; dictation then names what is missing.
if(DEFINED ENV{XDG_CACHE_HOME} AND IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
  set(_zorvane_cache "$ENV{XDG_CACHE_HOME}")
else()
  set(_zorvane_cache "$ENV{HOME}/.cache")
endif()
set(ZORVANE_VOSK_LIBRARY "${_zorvane_cache}/zorvane/vosk-0.3.39/libvosk.so" CACHE FILEPATH
  "libvosk.so copied into the bundle's Contents/Frameworks")

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

  if(EXISTS "${ZORVANE_VOSK_LIBRARY}")
    add_custom_command(OUTPUT ${ZORVANE_BUNDLE_FRAMEWORKS_DIR}/libvosk.so
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ZORVANE_BUNDLE_FRAMEWORKS_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZORVANE_VOSK_LIBRARY} ${ZORVANE_BUNDLE_FRAMEWORKS_DIR}/libvosk.so
      DEPENDS ${ZORVANE_VOSK_LIBRARY}
      COMMENT "Copying libvosk.so into the bundle")
    add_custom_target(zorvane_bundle_frameworks ALL DEPENDS ${ZORVANE_BUNDLE_FRAMEWORKS_DIR}/libvosk.so)
  else()
    message(STATUS "libvosk.so not found at ${ZORVANE_VOSK_LIBRARY} (run scripts/bootstrap): the bundle will have no Vosk recogniser")
    add_custom_target(zorvane_bundle_frameworks)
  endif()
endfunction()
