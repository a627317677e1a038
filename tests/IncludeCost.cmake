# Keeps the header for drawing cheap: what <tallowmere/Data/Fortune/Draw.hpp> brings into a
# translation unit, preprocessed, must stay below a third of what the umbrella header
# <tallowmere/Data/Fortune.hpp> brings (about a quarter when this was written). Run by ctest as
#   cmake -DCXX=... -DINCLUDES=dir;dir -DWORK=dir -P IncludeCost.cmake
set(flags -std=c++20 -E -P)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()

function(preprocessed_size header result)
  string(MAKE_C_IDENTIFIER ${header} name)
  file(WRITE ${WORK}/${name}.cpp "#include <${header}>\n")
  execute_process(COMMAND ${CXX} ${flags} ${WORK}/${name}.cpp -o ${WORK}/${name}.ii
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot preprocess <${header}>:\n${errors}")
  endif()
  file(SIZE ${WORK}/${name}.ii size)
  set(${result} ${size} PARENT_SCOPE)
endfunction()

preprocessed_size(tallowmere/Data/Fortune/Draw.hpp draw)
preprocessed_size(tallowmere/Data/Fortune.hpp umbrella)
math(EXPR percent "100 * ${draw} / ${umbrella}")
message(STATUS "Draw.hpp: ${draw} bytes preprocessed, ${percent}% of the umbrella's ${umbrella}")
if(percent GREATER_EQUAL 33)
  message(FATAL_ERROR "Draw.hpp costs ${percent}% of the umbrella header: keep heavy includes "
                      "out of it")
endif()
