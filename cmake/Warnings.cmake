# Warnings for the project's own targets (not for third-party code).
function(brenwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local)
endfunction()
