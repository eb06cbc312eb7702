# Install layout and the code-identity registry.
#
# The daemon admits a client only when its executable, at its installed
# path and with its installed content, is recorded in the registry
# (/etc/beaconbar/code-identities.plist) under the identifier its service
# requires. bcn_install_registered() installs a program and records it.
include(GNUInstallDirs)

set(BCN_LIBEXEC_DIR "${CMAKE_INSTALL_FULL_LIBEXECDIR}/beaconbar-admin")
set(BCN_DOC_DIR "${CMAKE_INSTALL_FULL_DOCDIR}")
set(BCN_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" CACHE PATH "Where systemd units are installed")
set(BCN_SYSTEMD_USER_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/user" CACHE PATH
    "Where systemd user units are installed")
set(BCN_REGISTRY_FILE "/etc/beaconbar/code-identities.plist" CACHE FILEPATH
    "Code-identity registry the install records programs in")

if(BCN_TEAM_ID)
  set(BCN_EFFECTIVE_TEAM_ID "${BCN_TEAM_ID}")
else()
  set(BCN_EFFECTIVE_TEAM_ID "TEAMID0000")
endif()

# bcn_install_registered(target DESTINATION dir IDENTIFIER id COMPONENT c)
# The component names the Debian package the program goes into.
function(bcn_install_registered target)
  cmake_parse_arguments(ARG "" "DESTINATION;IDENTIFIER;COMPONENT" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION "${ARG_DESTINATION}" COMPONENT ${ARG_COMPONENT})
  if(IS_ABSOLUTE "${ARG_DESTINATION}")
    set(path "${ARG_DESTINATION}/$<TARGET_FILE_NAME:${target}>")
  else()
    set(path "${CMAKE_INSTALL_PREFIX}/${ARG_DESTINATION}/$<TARGET_FILE_NAME:${target}>")
  endif()
  # The registry binds the final path to the installed content, so it can
  # only be written on the machine itself, not into a staging DESTDIR.
  install(CODE "
    if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
      message(WARNING \"DESTDIR install: record ${path} with beaconbar-codesign-register once it is in place\")
    else()
      execute_process(
        COMMAND \"${BCN_LIBEXEC_DIR}/beaconbar-codesign-register\"
                --identifier ${ARG_IDENTIFIER} --team-id ${BCN_EFFECTIVE_TEAM_ID}
                --registry \"${BCN_REGISTRY_FILE}\" \"${path}\"
        RESULT_VARIABLE recorded)
      if(NOT recorded EQUAL 0)
        message(FATAL_ERROR \"could not record ${path} in the code-identity registry\")
      endif()
    endif()" COMPONENT ${ARG_COMPONENT})
endfunction()
