# Debian packages, one per install component (cpack -G DEB, or
# scripts/packages.sh for a Release build for /usr):
#   library  -> libvelmora3             the shared library (and what else names no component)
#   dev      -> libvelmora-dev          headers, the CMake package, the .so link
#   server   -> velmora-server          the program, its systemd unit and settings
#   demo     -> velmora-demo            the demo host
#   designer -> velmora-designer-plugin the Qt Designer plugin, when it is built
# Run-time dependencies come from dpkg-shlibdeps; the packages of this tree
# depend on each other at exactly the same version.

set(VELMORA_PACKAGE_MAINTAINER "Velmora maintainers <maintainers@velmora.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPack's own default summary: any other one is put in front of every
# package's description, and each package has a summary of its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_CONTACT "${VELMORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMORA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# The packages hold what "cmake --install" puts under CMAKE_INSTALL_PREFIX,
# where the unit's paths point.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libvelmora3 gets a shlibs file for packages built against it elsewhere.
# Here dpkg-shlibdeps finds libvelmora.so.3 in the build tree (it belongs to
# no installed package yet); the demo and the plugin name libvelmora3 as a
# component dependency instead.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src/velmora)

# name;section;summary;description;component dependencies;other dependencies
set(VELMORA_PACKAGE_library libvelmora3 libs
    "Velmora Cross Reference control for Qt 6 Widgets"
    "A control with which an operator assigns work centers to an employee,\n\
talking to the page Velmora.asp of a web server. This package holds the\n\
shared library that Qt hosts link." "" "")
set(VELMORA_PACKAGE_dev libvelmora-dev libdevel
    "Velmora Cross Reference control: development files"
    "Headers and the CMake package (find_package(Velmora 3), target\n\
Velmora::Velmora) for building Qt hosts with the control." library "qt6-base-dev")
set(VELMORA_PACKAGE_server velmora-server net
    "Velmora Cross Reference server: the page Velmora.asp on SQLite or PostgreSQL"
    "Serves the center documents and receives the commits of the Velmora\n\
control. Only the control's two statements are accepted, checked and applied\n\
as parameterised statements, one transaction per request. Comes with a\n\
systemd unit (velmora-server.service) and its settings in\n\
/etc/default/velmora-server." "" "adduser, libqt6sql6-sqlite, zlib1g")
set(VELMORA_PACKAGE_demo velmora-demo x11
    "Velmora Cross Reference demo host"
    "A small Qt host that embeds the Velmora control and, without arguments,\n\
starts an embedded server on a sample SQLite database." library "libqt6sql6-sqlite")
set(VELMORA_PACKAGE_designer velmora-designer-plugin devel
    "Velmora Cross Reference control: Qt Designer plugin"
    "Lets Qt Designer place the Velmora control on forms." library "")

# Only components with install rules become packages: CPack's DEB generator
# makes a package of every listed component, an empty one for a component
# the build leaves out (no Designer plugin).
get_cmake_property(velmora_components COMPONENTS)
set(CPACK_COMPONENTS_ALL "")
foreach(component IN ITEMS library dev server demo designer)
    if(NOT component IN_LIST velmora_components)
        continue()
    endif()
    list(APPEND CPACK_COMPONENTS_ALL ${component})
    string(TOUPPER ${component} upper)
    list(GET VELMORA_PACKAGE_${component} 0 name)
    list(GET VELMORA_PACKAGE_${component} 1 section)
    list(GET VELMORA_PACKAGE_${component} 2 summary)
    list(GET VELMORA_PACKAGE_${component} 3 description)
    list(GET VELMORA_PACKAGE_${component} 4 internal)
    list(GET VELMORA_PACKAGE_${component} 5 external)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name})
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
    set(CPACK_COMPONENT_${upper}_DESCRIPTION "${summary}\n${description}")
    set(CPACK_COMPONENT_${upper}_DEPENDS ${internal})
    set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${external}")
endforeach()
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS libqt6sql6-psql)
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS sqlite3)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
    ${PROJECT_SOURCE_DIR}/packaging/deb/prerm
    ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
# The settings file is a conffile where the packages are meant to go, /usr
# (see server/CMakeLists.txt).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    list(APPEND CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/conffiles)
endif()
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/triggers)

include(CPack)
