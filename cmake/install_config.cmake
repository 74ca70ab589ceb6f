# Install step: zelm.cfg where the program looks for it (beside its real
# executable) and the bin/zelm link. With the prefix /usr, as in the Debian
# package, the configuration is /etc/zelm/zelm.cfg and lib/zelm/zelm.cfg
# links to it; with any other prefix it is a file in lib/zelm. An existing
# zelm.cfg holds someone's packers and options: it is never replaced, and a
# different new default goes beside it as zelm.cfg.dist.
#
# file(INSTALL) puts DESTDIR in front of its destination by itself; the
# other file commands are given the staged path.
set(zelm_staged "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(zelm_link target link)
  message(STATUS "Installing: ${link} -> ${target}")
  get_filename_component(dir "${link}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
endfunction()

if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(zelm_config_dir "/etc/zelm")
  zelm_link("../../../etc/zelm/zelm.cfg" "${zelm_staged}/lib/zelm/zelm.cfg")
else()
  set(zelm_config_dir "${CMAKE_INSTALL_PREFIX}/lib/zelm")
endif()

set(zelm_config "$ENV{DESTDIR}${zelm_config_dir}/zelm.cfg")
if(EXISTS "${zelm_config}")
  file(SHA256 "${zelm_config}" zelm_old)
  file(SHA256 "${ZELM_DEFAULT_CONFIG}" zelm_new)
  if(NOT zelm_old STREQUAL zelm_new)
    message(STATUS "Keeping: ${zelm_config} (the new default is zelm.cfg.dist)")
    file(INSTALL DESTINATION "${zelm_config_dir}" TYPE FILE RENAME zelm.cfg.dist
         FILES "${ZELM_DEFAULT_CONFIG}")
  endif()
else()
  file(INSTALL DESTINATION "${zelm_config_dir}" TYPE FILE FILES "${ZELM_DEFAULT_CONFIG}")
endif()

zelm_link("../lib/zelm/zelm" "${zelm_staged}/bin/zelm")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zelm_staged}/bin/zelm")
