# Where an installation puts the programs and their data, relative to
# CMAKE_INSTALL_PREFIX. Included by packaging/Install.cmake and by the demo,
# which finds its samples from its own file's place.
#
# The programs live in a folder of their own, with links to them in bin:
# each reads its language file (JapZemb.ini) from the folder its own file is
# in, and a data file has no place in bin.

# Sets variables of the including directory's scope; safe to include again.
include(GNUInstallDirs)

set(QUORVEL_PROGRAM_DIR "lib/quorvel" CACHE STRING
  "Where the programs and their language file go, relative to the install prefix; bin gets links to the programs")
set(QUORVEL_SAMPLES_DIR "${CMAKE_INSTALL_DATADIR}/quorvel/samples")
# The samples as seen from the programs' folder.
file(RELATIVE_PATH QUORVEL_SAMPLES_FROM_PROGRAM "/${QUORVEL_PROGRAM_DIR}" "/${QUORVEL_SAMPLES_DIR}")
