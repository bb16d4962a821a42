# Where `cmake --install` puts things. The install prefix is the root of a system tree
# ("/" for the package), so the one set of rules lays out both the Debian package and a
# staging tree: `cmake --install build --prefix /tmp/root` gives /tmp/root/usr/bin/... and
# /tmp/root/etc/varnholt/kestro.conf, exactly as the package installs them.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Root of the installed tree" FORCE)
endif()
set(KESTRO_INSTALL_BINDIR usr/bin)
set(KESTRO_INSTALL_DATADIR usr/share)
set(KESTRO_INSTALL_DOCDIR usr/share/doc/kestroftp)
set(KESTRO_INSTALL_MANDIR usr/share/man)
set(KESTRO_INSTALL_SYSCONFDIR etc/varnholt)
# Debian 12 keeps packaged units below /lib (the /usr merge of units came later).
set(KESTRO_INSTALL_UNITDIR lib/systemd/system)
