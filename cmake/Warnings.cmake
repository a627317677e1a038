# Warning flags shared by every target of the project.
function(tallowmere_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Checks the lock discipline declared with the annotations in Platform/ThreadAnnotations.hpp.
    # The beta group adds the lock order (TM_ACQUIRED_AFTER / TM_ACQUIRED_BEFORE), which clang
    # 14 checks only there.
    target_compile_options(${target} PRIVATE -Wthread-safety -Wthread-safety-beta)
  endif()
  if(TALLOWMERE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
