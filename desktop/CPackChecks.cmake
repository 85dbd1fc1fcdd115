# Read by cpack before it packs: a .deb made without dpkg-shlibdeps would lack its library
# dependencies, so say which package brings it instead of failing halfway.
if(CPACK_GENERATOR STREQUAL "DEB")
  cmake_policy(SET CMP0109 NEW) # as cpack's own search: a program is a file we may execute
  find_program(TARVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT TARVIK_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "cpack: dpkg-shlibdeps is missing: install dpkg-dev "
      "(scripts/install-deps does) to make the .deb")
  endif()
endif()
