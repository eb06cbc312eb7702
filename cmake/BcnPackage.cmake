# Debian packages, built by CPack's DEB generator from the install rules'
# components (scripts/package.sh):
#   beaconbar        (component cli)    the command-line tool
#   beaconbar-admin  (component admin)  the daemon, its units, the polkit
#                    action, the console, beaconbar-adminctl, the
#                    registry tool and the uninstaller
#   libnetcore0      (component netcore)     libnetcore.so.0 and its file
#   libnetcore-dev   (component netcore_dev) headers, the libnetcore.so
#                    link, the CMake package and netcore.pc
#   beaconbar-exporter (component exporter) the Prometheus exporter and
#                    its unit
#   beaconbar-tray   (component tray)   the tray app, its menu entry and icon,
#                    and beaconbar-chart (the history charts, Qt Charts)
# Dependencies come from the binaries (dpkg-shlibdeps); the maintainer
# scripts under deploy/debian/ record the programs in the code-identity
# registry and hand the sockets to deb-systemd-helper.
set(BCN_MAINTAINER "Beaconbar maintainers <maintainers@users.noreply.c-seed-4771de88.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME beaconbar)
set(CPACK_PACKAGE_VENDOR "Quillbank")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${BCN_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL cli admin netcore netcore_dev exporter tray)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only libnetcore0 holds a shared library, so only it gets a shlibs file.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/beaconbar")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BCN_MAINTAINER}")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME beaconbar)
# CPack indents the lines after the synopsis itself.
set(CPACK_COMPONENT_CLI_DESCRIPTION "network status on the command line
Shows this machine's network interfaces with their state, addresses and
traffic, the traffic history, network services, tunnel owners and public
addresses. Paired with the Beaconbar admin helper it switches network
services on and off for its user.")

set(CPACK_DEBIAN_ADMIN_PACKAGE_NAME beaconbar-admin)
set(CPACK_DEBIAN_ADMIN_PACKAGE_SECTION admin)
# polkitd answers the daemon's authorization checks; pkexec and pkttyagent
# are what the console and beaconbar-adminctl start for an administrator.
set(CPACK_DEBIAN_ADMIN_PACKAGE_DEPENDS "polkitd, pkexec, systemd")
set(CPACK_DEBIAN_ADMIN_PACKAGE_RECOMMENDS "beaconbar")
set(CPACK_COMPONENT_ADMIN_DESCRIPTION "Beaconbar admin helper and console
A root daemon, started by systemd on the first connection, that pairs
client programs after an administrator approves through polkit and
switches network services for paired users. Includes the Beaconbar Admin
console (Qt), beaconbar-adminctl for terminals, and an uninstaller.")

# The shared library, named after its SONAME as Debian's library policy
# asks, with a shlibs file so that packages built against it depend on it.
# While the packages are built the library is not installed anywhere
# dpkg-shlibdeps looks, so the programs' dependency on it is declared
# rather than computed.
set(CPACK_DEBIAN_NETCORE_PACKAGE_NAME libnetcore0)
set(CPACK_DEBIAN_NETCORE_PACKAGE_SECTION libs)
# dpkg runs ldconfig once after installing or removing libraries, when the
# package asks for it with this trigger.
set(bcn_netcore_triggers "${CMAKE_BINARY_DIR}/debian-scripts/netcore/triggers")
file(CONFIGURE OUTPUT "${bcn_netcore_triggers}" CONTENT "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_NETCORE_PACKAGE_CONTROL_EXTRA "${bcn_netcore_triggers}")
set(CPACK_COMPONENT_NETCORE_DESCRIPTION "network status library (NetCore)
NetCore reads this machine's network interfaces, their traffic rates and
history, the network services, tunnel owners and public addresses. This
package holds the shared library.")
set(CPACK_DEBIAN_NETCORE_DEV_PACKAGE_NAME libnetcore-dev)
set(CPACK_DEBIAN_NETCORE_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_NETCORE_DEV_PACKAGE_DEPENDS "libnetcore0 (= ${CPACK_PACKAGE_VERSION})")
set(CPACK_COMPONENT_NETCORE_DEV_DESCRIPTION "network status library (NetCore) - development files
NetCore reads this machine's network interfaces, their traffic rates and
history, the network services, tunnel owners and public addresses. This
package holds the headers, the CMake package (find_package(NetCore)) and
the pkg-config file (netcore.pc).")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/netcore/library")
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libnetcore0 (>= ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_ADMIN_PACKAGE_DEPENDS "${CPACK_DEBIAN_ADMIN_PACKAGE_DEPENDS}, libnetcore0 (>= ${CPACK_PACKAGE_VERSION})")

set(CPACK_DEBIAN_EXPORTER_PACKAGE_NAME beaconbar-exporter)
set(CPACK_DEBIAN_EXPORTER_PACKAGE_DEPENDS "systemd, libnetcore0 (>= ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_EXPORTER_PACKAGE_SUGGESTS "beaconbar-admin, prometheus")
set(CPACK_COMPONENT_EXPORTER_DESCRIPTION "Beaconbar metrics for Prometheus
Serves this machine's interface counters, network services, primary
interfaces, tunnel owners and public addresses in the Prometheus text
format on loopback port 10190, as a sandboxed systemd service without
privileges. Tunnel owners come from the Beaconbar admin helper when it is
installed.")

set(CPACK_DEBIAN_TRAY_PACKAGE_NAME beaconbar-tray)
set(CPACK_DEBIAN_TRAY_PACKAGE_DEPENDS "libnetcore0 (>= ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_TRAY_PACKAGE_RECOMMENDS "beaconbar")
# `beaconbar history --chart` runs the renderer that comes with the tray
# (Qt Charts and Qt SVG reach beaconbar-tray through dpkg-shlibdeps).
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "beaconbar-tray")
set(CPACK_COMPONENT_TRAY_DESCRIPTION "Beaconbar network status in the desktop's tray
A tray icon drawn with the current traffic rates of a pinned or the
primary interface, and a menu of the interfaces (pinned ones first) with
their state, addresses and rates, and the primary interfaces. Desktops
show it through StatusNotifierItem. Its history window charts the last
hour, day and 30 days of traffic; beaconbar-chart draws the same charts
into PNG or SVG files for `beaconbar history --chart`.")

# Every package carries its copyright and changelog, as Debian asks.
foreach(package beaconbar beaconbar-admin libnetcore0 libnetcore-dev beaconbar-exporter beaconbar-tray)
  if(package STREQUAL "beaconbar")
    set(component cli)
  elseif(package STREQUAL "beaconbar-exporter")
    set(component exporter)
  elseif(package STREQUAL "beaconbar-tray")
    set(component tray)
  elseif(package STREQUAL "beaconbar-admin")
    set(component admin)
  elseif(package STREQUAL "libnetcore0")
    set(component netcore)
  else()
    set(component netcore_dev)
  endif()
  set(docs "${CMAKE_BINARY_DIR}/debian-docs/${package}")
  file(MAKE_DIRECTORY "${docs}")
  configure_file("${PROJECT_SOURCE_DIR}/deploy/debian/copyright" "${docs}/copyright" COPYONLY)
  configure_file("${PROJECT_SOURCE_DIR}/deploy/debian/changelog.in" "${docs}/changelog" @ONLY)
  add_custom_command(OUTPUT "${docs}/changelog.gz"
    COMMAND gzip -9nkf "${docs}/changelog"
    DEPENDS "${docs}/changelog" VERBATIM)
  add_custom_target(debian-changelog-${package} ALL DEPENDS "${docs}/changelog.gz")
  install(FILES "${docs}/copyright" "${docs}/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}" COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# What the daemon makes at run time, which purge removes (the unit's
# ConfigurationDirectory, StateDirectory and RuntimeDirectory).
get_filename_component(BCN_CONFIG_DIR "${BCN_REGISTRY_FILE}" DIRECTORY)
set(BCN_STATE_DIR /var/lib/beaconbar-admin)
set(BCN_RUNTIME_DIR /run/beaconbar)
set(BCN_PACKAGE_SCRIPT_DIR "${CMAKE_BINARY_DIR}/debian-scripts")
foreach(component cli admin exporter)
  foreach(script postinst prerm postrm)
    set(source "${PROJECT_SOURCE_DIR}/deploy/debian/${component}.${script}.in")
    if(EXISTS "${source}")
      configure_file("${source}" "${BCN_PACKAGE_SCRIPT_DIR}/${component}/${script}" @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                      WORLD_READ WORLD_EXECUTE)
      string(TOUPPER "${component}" upper)
      list(APPEND CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA "${BCN_PACKAGE_SCRIPT_DIR}/${component}/${script}")
    endif()
  endforeach()
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
