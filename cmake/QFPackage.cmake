# The Debian package, made by `cmake --build BUILD --target package` from the install rules of
# packaging/CMakeLists.txt: pro-tombrel_VERSION_ARCH.deb in the build folder. Its dependencies are
# computed from the binaries by dpkg-shlibdeps; the binaries are stripped.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pro-tombrel)
set(CPACK_PACKAGE_VENDOR "Quenfield")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Pro Tombrel developers <dev@protombrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "numbered versions of video and audio editing projects")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME pro-tombrel)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Copies and moves the user may not make are run as administrator through polkit's pkexec.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkexec)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The long description under the summary, as its lines are to be shown; CPack indents them.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pro Tombrel keeps automatic, numbered versions of the project files of video"
    "and audio editors. A background helper watches the folders where projects"
    "live, copies a project into its version store whenever it changes and on a"
    "timer, prunes old versions by a retention policy, and tells for each version"
    "what changed since the one before."
    ""
    "The application shows projects, versions, screenshots and change lists, and"
    "restores, annotates, searches, prints and deletes versions. The tombrel"
    "command does the same from a terminal, for machines without a desktop and"
    "for scripts.")
include(CPack)
