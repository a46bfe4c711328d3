# Precompiled headers (cmake/precompiled/): the third-party headers most files of the window and
# of the tests include, parsed once instead of once per file. Parsing Qt's widget headers is most
# of the time a window file takes to compile. They hold only headers from outside the project, so
# editing the project never rebuilds them.
option(VELMAR_PRECOMPILE "Precompile the third-party headers of the window and the tests" ON)

# velmar_precompile(TARGET HEADER [REUSE_FROM OWNER]): TARGET includes cmake/precompiled/HEADER
# in every file; with OWNER, it reuses OWNER's precompiled copy (the two must compile with the same
# options, or the compiler falls back to reading the header itself).
function(velmar_precompile target header)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "REUSE_FROM" "")
  if(NOT VELMAR_PRECOMPILE)
    return()
  endif()
  if(arg_REUSE_FROM)
    target_precompile_headers(${target} REUSE_FROM ${arg_REUSE_FROM})
  else()
    target_precompile_headers(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/precompiled/${header})
  endif()
endfunction()
