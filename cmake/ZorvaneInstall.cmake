# `cmake --install` lays Zorvane out as Linux software (the Debian package is made from it):
#   bin/zorvane                                  the launcher (the bundle's Contents/MacOS/Zorvane)
#   lib/zorvane/                                 libzorvane-desktop.so (the program proper),
#                                                ZorvaneBrowserHost, libvosk.so
#   share/zorvane/                               Info.plist (version; updates by the package manager),
#                                                BrowserExtension/, ZorvaneMenuTemplate.png
#   share/applications/com.quenvar.Zorvane.desktop, share/icons/hicolor/, share/metainfo/
#   the browsers' system-wide native-messaging folders: a manifest naming lib/zorvane/ZorvaneBrowserHost
# The Firefox folder gets none: the extension is a Chromium one (its origin is chrome-extension://).
set(ZORVANE_BROWSER_MANIFEST_DIRS
  "/etc/chromium/native-messaging-hosts;/etc/opt/chrome/native-messaging-hosts;/etc/opt/edge/native-messaging-hosts"
  CACHE STRING "Absolute folders where browsers look for system-wide native-messaging hosts (empty: none)")
set(ZORVANE_SCREENSHOTS_URL "https://quenvar.com/zorvane/capturas" CACHE STRING
  "Web folder holding the screenshots the AppStream metadata names (panel.png, menu.png, ajustes.png)")

function(zorvane_install)
  set(private lib/zorvane)
  set(data share/zorvane)

  # The launcher keeps its name in the bundle (Zorvane) and is the lower-case command when installed.
  install(PROGRAMS $<TARGET_FILE:Zorvane> DESTINATION bin RENAME zorvane)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/zorvane\")
  endif()")
  install(TARGETS ZorvaneBrowserHost RUNTIME DESTINATION ${private})
  install(TARGETS ZorvaneDesktop LIBRARY DESTINATION ${private})
  if(EXISTS "${ZORVANE_VOSK_LIBRARY}")
    install(PROGRAMS ${ZORVANE_VOSK_LIBRARY} DESTINATION ${private})
  endif()

  configure_file(${PROJECT_SOURCE_DIR}/packaging/Info.plist.in ${CMAKE_BINARY_DIR}/packaging/Info.plist @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/Info.plist ${PROJECT_SOURCE_DIR}/resources/ZorvaneMenuTemplate.png
    DESTINATION ${data})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/BrowserExtension DESTINATION ${data})
  # The compositor helpers the Wayland adapters load (KWin) or offer to install (GNOME Shell).
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/kwin ${PROJECT_SOURCE_DIR}/resources/gnome-shell DESTINATION ${data})

  install(FILES ${PROJECT_SOURCE_DIR}/packaging/com.quenvar.Zorvane.desktop DESTINATION share/applications)
  foreach(size 16 32 48 128)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/BrowserExtension/icons/icon${size}.png
      DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME com.quenvar.Zorvane.png)
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/com.quenvar.Zorvane.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/packaging/com.quenvar.Zorvane.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/com.quenvar.Zorvane.metainfo.xml DESTINATION share/metainfo)

  # The manifest names the host where it is installed, so it is written at install time (the
  # prefix may be given then); its bytes are those the program writes for each user.
  file(STRINGS ${PROJECT_SOURCE_DIR}/app/bridge/BrowserBridgeInstaller.h id_line REGEX "extensionID = \"[a-p]+\"")
  string(REGEX REPLACE ".*extensionID = \"([a-p]+)\".*" "\\1" extension_id "${id_line}")
  install(CODE "
    set(host \"\${CMAKE_INSTALL_PREFIX}/${private}/ZorvaneBrowserHost\")
    string(REPLACE \"/\" \"\\\\/\" host \"\${host}\")
    set(manifest \"{\\n  \\\"allowed_origins\\\" : [\\n    \\\"chrome-extension:\\\\/\\\\/${extension_id}\\\\/\\\"\\n  ],\\n  \\\"description\\\" : \\\"Zorvane browser bridge\\\",\\n  \\\"name\\\" : \\\"com.quenvar.zorvane\\\",\\n  \\\"path\\\" : \\\"\${host}\\\",\\n  \\\"type\\\" : \\\"stdio\\\"\\n}\")
    foreach(folder ${ZORVANE_BROWSER_MANIFEST_DIRS})
      message(STATUS \"Installing: \$ENV{DESTDIR}\${folder}/com.quenvar.zorvane.json\")
      file(WRITE \"\$ENV{DESTDIR}\${folder}/com.quenvar.zorvane.json\" \"\${manifest}\")
    endforeach()")
endfunction()
