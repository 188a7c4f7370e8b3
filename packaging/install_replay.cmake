# Run at install time (cmake --install, CPack): installs the replay script as
# adapter-report-replay with its line `packaged_version=` made `packaged_version=<version>`, which
# tells the script it is the installed one. A script without that line exactly once is not
# installed: it would build the tool under /usr.
# In: replay_source, replay_version, replay_staged (where the filled-in copy is written).
file(STRINGS "${replay_source}" markers REGEX "^packaged_version=")
if(NOT markers STREQUAL "packaged_version=")
  message(FATAL_ERROR "${replay_source}: needs the line \"packaged_version=\" once, empty, to be installed")
endif()
file(READ "${replay_source}" script)
string(REGEX REPLACE "(^|\n)packaged_version=\n" "\\1packaged_version=${replay_version}\n" script "${script}")
file(WRITE "${replay_staged}" "${script}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/bin" TYPE PROGRAM RENAME adapter-report-replay
     FILES "${replay_staged}")
