# Installs the default deployment file, run by `cmake --install` and by CPack. An
# administrator's /etc/varnholt/kestro.conf is never replaced by the default: installing
# into a live root (DESTDIR empty) skips a file that is there already. Staging a package
# (DESTDIR set, or CPack's own fresh folder) always gets the default.
set(kestro_conf_target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KESTRO_CONF_DIR}/kestro.conf")
if("$ENV{DESTDIR}" STREQUAL "" AND (EXISTS "${kestro_conf_target}" OR IS_SYMLINK "${kestro_conf_target}"))
    message(STATUS "Kept: ${kestro_conf_target} (the default is not installed over it)")
else()
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KESTRO_CONF_DIR}" TYPE FILE
        FILES "${KESTRO_CONF_SOURCE}")
endif()
