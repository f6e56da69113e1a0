# Warnings for the project's own targets (not for third-party code). BRENWICK_WERROR turns them into
# errors (CI builds with it on); flags one compiler does not know are given to the other only.
option(BRENWICK_WERROR "Treat the project's warnings as errors" OFF)

function(brenwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wshadow=local)
  else()
    target_compile_options(${target} PRIVATE -Wshadow-uncaptured-local)
  endif()
  if(BRENWICK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12's -Wrestrict misfires inside libstdc++ on `"text" + std::string` at -O3 (a known false
    # positive of that release): still shown, never fatal. The project's code appends its pieces instead.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-error=restrict)
    endif()
  endif()
endfunction()
