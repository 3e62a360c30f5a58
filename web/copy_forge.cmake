# cmake -DFROM=... -DTO=... -P copy_forge.cmake: node-forge's minified
# browser build into the page, byte for byte, or a message that says how
# to get it.
if(NOT EXISTS "${FROM}")
  message(FATAL_ERROR "${FROM} is missing: run npm ci in web/ (./dev serve does)")
endif()
configure_file("${FROM}" "${TO}" COPYONLY)
