# Warning flags shared by every target of the project.
function(tallowmere_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Checks the lock discipline declared with the annotations in Platform/ThreadAnnotations.hpp.
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  if(TALLOWMERE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
