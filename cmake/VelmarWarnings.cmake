# Warnings for the project's own targets only (never for third-party code).
function(velmar_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference
    -Wimplicit-fallthrough)
  # The sanitizers' instrumentation misleads GCC's flow analysis (false "may be used
  # uninitialized" inside the standard library); the normal build keeps the warning.
  if(VELMAR_SANITIZE OR VELMAR_TSAN)
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  if(VELMAR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
