# The arrows between the rooms of the tree: which folder's code may include
# the headers of which. Run by the build (target dl_arrows) on every change
# of a source; an include that crosses an arrow the wrong way fails it.
#
#   cmake -DSOURCE_DIR=<tree> -DSTAMP=<file> -P check_arrows.cmake
#
#   endpoints -> desktop, export, office (the services) -> platform -> base
#   http knows no endpoint and no platform layer; service (Docwarden) knows
#   nothing of Docklane but the platform layers and the pipe's protocol.

set(allowed_base      base)
set(allowed_protocol  protocol)
set(allowed_http      http base)
set(allowed_platform  platform base)
set(allowed_export    export platform base)
set(allowed_desktop   desktop export platform base)
set(allowed_office    office export platform base)
set(allowed_endpoints endpoints http desktop export office platform base)
set(allowed_app       app endpoints http desktop export office platform base protocol)
set(allowed_service   service platform base protocol)
set(rooms base protocol http platform export desktop office endpoints app service)

set(violations "")
foreach(room ${rooms})
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${room}/*.cpp ${SOURCE_DIR}/${room}/*.hpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" target_room "${line}")
      list(FIND allowed_${room} ${target_room} found)
      if(found EQUAL -1)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
        string(APPEND violations "  ${name}: ${line} (${room} may include: ${allowed_${room}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that cross the arrows between folders:\n${violations}")
endif()
file(TOUCH ${STAMP})
