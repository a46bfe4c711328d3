# The core, no Qt and no UI: one static library per layer, base <- link <- protocol <- data. Each
# library links only the layers below it and the third-party libraries it uses itself;
# scripts/test.d/layers.sh checks the includes.
#
# velmar_core_layers(SUFFIX [CHECK] [OPTIONS option...] [PRIVATE_OPTIONS option...]) declares the
# libraries velmar_base${SUFFIX} ... velmar_data${SUFFIX}. OPTIONS are compiled into the layers and
# everything that links them; PRIVATE_OPTIONS into the layers alone. The normal build declares
# them without a suffix; the fuzz build declares its own instrumented copy.
#
# CHECK: a static library's link never fails for a call into a layer above it (the program links
# every layer, and lld takes symbols from archives in any order). So each layer's objects are also
# linked alone, against the layers below it, into a shared object that may leave no symbol
# undefined: a reference to a layer above fails the build there.
function(velmar_core_layers suffix)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CHECK" "" "OPTIONS;PRIVATE_OPTIONS")
  # link/: threads for the converter pump and the port readers, dlopen for the converter's
  # driver library, libserialport (when present) for the list of the system's serial ports.
  set(uses_link Threads::Threads ${CMAKE_DL_LIBS})
  if(LIBSERIALPORT_FOUND)
    list(APPEND uses_link PkgConfig::LIBSERIALPORT)
  endif()
  # data/: nettle for the image digests, SQLite for the journal, nlohmann_json for the backup
  # manifests.
  find_package(nlohmann_json 3 REQUIRED)
  set(uses_data PkgConfig::NETTLE PkgConfig::SQLITE3 nlohmann_json::nlohmann_json)

  set(below "")
  foreach(layer base link protocol data)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp)
    if(layer STREQUAL "link")
      # The ports of POSIX systems, the only platform the link layer implements.
      file(GLOB platform CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/link/posix/*.cpp)
      list(APPEND sources ${platform})
    endif()
    set(target velmar_${layer}${suffix})
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${below} ${uses_${layer}})
    target_compile_options(${target} PUBLIC ${arg_OPTIONS} PRIVATE ${arg_PRIVATE_OPTIONS})
    velmar_warnings(${target})

    if(arg_CHECK)
      add_library(${target}_layer_check SHARED $<TARGET_OBJECTS:${target}>)
      target_link_libraries(${target}_layer_check PRIVATE ${below} ${uses_${layer}})
      target_link_options(${target}_layer_check PRIVATE -Wl,--no-undefined)
    endif()
    set(below ${target})
  endforeach()

  if(LIBSERIALPORT_FOUND)
    target_compile_definitions(velmar_link${suffix} PUBLIC VELMAR_HAVE_LIBSERIALPORT=1)
  endif()
  # Source properties belong to the folder that declares the target: set them there.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/data/demo_place.cpp
    TARGET_DIRECTORY velmar_data${suffix}
    PROPERTIES COMPILE_DEFINITIONS "${VELMAR_DEMO_PLACE_DEFINITIONS}")
endfunction()
