# What other programs build against, and the packages (cpack from the build folder).
#
# The CMake package configuration (find_package(ZipMate191 CONFIG): the target
# ZipMate191::ZipMate191) and zipmate191.pc, both carrying the project version and both
# relocatable: they find the prefix from their own location.
include(CMakePackageConfigHelpers)
set(zm_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/ZipMate191)
set(ZM_ENGINE_FILE ${CMAKE_INSTALL_LIBDIR}/DzEngine190.dll)
if(ZM_SHARED)
  set(ZM_CONFIG_KIND "the shared library; ZipMate191::ZipMate191_static the archive")
else()
  set(ZM_CONFIG_KIND "the static library")
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/ZipMate191Config.cmake.in
  ${CMAKE_BINARY_DIR}/package/ZipMate191Config.cmake
  INSTALL_DESTINATION ${zm_cmakedir} PATH_VARS ZM_ENGINE_FILE)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/ZipMate191ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(EXPORT ZipMate191Targets NAMESPACE ZipMate191:: DESTINATION ${zm_cmakedir}
  COMPONENT Development)
install(FILES ${CMAKE_BINARY_DIR}/package/ZipMate191Config.cmake
  ${CMAKE_BINARY_DIR}/package/ZipMate191ConfigVersion.cmake
  DESTINATION ${zm_cmakedir} COMPONENT Development)

# What linking the archive needs besides: in Libs while the archive is all there is,
# in Libs.private beside a shared library. The public headers need C++20 (Cflags).
find_package(Threads REQUIRED)
set(zm_pc_libs "")
foreach(lib IN LISTS CMAKE_DL_LIBS)
  string(APPEND zm_pc_libs " -l${lib}")
endforeach()
if(CMAKE_THREAD_LIBS_INIT)
  string(APPEND zm_pc_libs " ${CMAKE_THREAD_LIBS_INIT}")
endif()
if(ZM_SHARED)
  set(ZM_PC_LIBS "")
  set(ZM_PC_LIBS_PRIVATE "${zm_pc_libs}")
else()
  set(ZM_PC_LIBS "${zm_pc_libs}")
  set(ZM_PC_LIBS_PRIVATE "")
endif()
file(RELATIVE_PATH ZM_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/zipmate191.pc.in ${CMAKE_BINARY_DIR}/package/zipmate191.pc
  @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/zipmate191.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)

# ---- Packages ------------------------------------------------------------------
# cpack -G DEB: libzipmate191, libzipmate191-dev, zmtool and rob216-update, installed
# under the build's CMAKE_INSTALL_PREFIX (configure with /usr for the system), their
# dependencies from dpkg-shlibdeps. On Windows (the ZIP generator) one archive of the
# same components. The split debugging information goes into neither.
set(CPACK_PACKAGE_NAME zipmate191)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZipMate developers")
set(CPACK_PACKAGE_CONTACT "ZipMate developers <zipmate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "The zip component TZipMate, its engine and tools")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
if(NOT WIN32)
  # Where the packages install is where this build's component looks for the engine.
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
endif()
set(CPACK_COMPONENTS_ALL Runtime Development Zmtool Utility)
string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "The zip component TZipMate and its engine\n"
  "TZipMate lists, tests, extracts and writes ZIP archives; the engine DzEngine190.dll,\n"
  "which it loads from its own folder, compresses, decompresses and encrypts.")
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "The zip component TZipMate: headers and libraries\n"
  "The public headers, the static library, the CMake package configuration\n"
  "(find_package(ZipMate191 CONFIG), target ZipMate191::ZipMate191) and zipmate191.pc.")
string(CONCAT CPACK_COMPONENT_ZMTOOL_DESCRIPTION
  "Command-line client of the zip component\n"
  "zmtool lists, tests, extracts, joins and writes ZIP archives, with the conventions\n"
  "of unzip and bsdtar. It carries its engine inside itself.")
string(CONCAT CPACK_COMPONENT_UTILITY_DESCRIPTION
  "Writes the corrected labour-rate table ROB216.dbf\n"
  "rob216-update writes the table ROB216.dbf of the price list „Informacje kwartalne\n"
  "Tarnix/Tarnix-MAX 2 kw 2016” into a folder the user picks.")

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzipmate191)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzipmate191-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libzipmate191 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_ZMTOOL_PACKAGE_NAME zmtool)
set(CPACK_DEBIAN_UTILITY_PACKAGE_NAME rob216-update)
# Both programs carry the engine, which dpkg-shlibdeps does not see inside them.
set(CPACK_DEBIAN_ZMTOOL_PACKAGE_DEPENDS "libbz2-1.0, libzstd1, zlib1g")
set(CPACK_DEBIAN_UTILITY_PACKAGE_DEPENDS "libbz2-1.0, libzstd1, zlib1g")

if(WIN32)
  # One archive of every component but Debug (the grouping would join the DEBs too).
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
endif()
set(CPACK_ARCHIVE_FILE_NAME zipmate191-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
include(CPack)
