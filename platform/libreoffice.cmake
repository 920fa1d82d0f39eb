# Office automation servers ("Word.Application", "Excel.Application",
# "PowerPoint.Application") on a long-lived LibreOffice (headless for
# conversions, visible for editing), driven through its C++ UNO API.
if(NOT DL_LIBREOFFICE)
  return()
endif()

set(DL_LO_PROGRAM_DIR "/usr/lib/libreoffice/program" CACHE PATH "LibreOffice's program folder")
set(DL_LO_SDK_DIR "/usr/lib/libreoffice/sdk" CACHE PATH "LibreOffice SDK")

find_program(DL_CPPUMAKER cppumaker HINTS ${DL_LO_SDK_DIR}/bin NO_DEFAULT_PATH)
find_path(DL_UNO_INCLUDE_DIR sal/config.h HINTS ${DL_LO_SDK_DIR}/include /usr/include/libreoffice)
set(_lo_types ${DL_LO_PROGRAM_DIR}/types.rdb ${DL_LO_PROGRAM_DIR}/types/offapi.rdb)
if(NOT DL_CPPUMAKER OR NOT DL_UNO_INCLUDE_DIR OR NOT EXISTS ${DL_LO_PROGRAM_DIR}/types.rdb)
  message(FATAL_ERROR "LibreOffice SDK not found (install libreoffice-dev, or configure with "
                      "-DDL_LIBREOFFICE=OFF for a build without the office automation servers)")
endif()

# C++ headers of the office's UNO types, generated from the installed type
# libraries so that they always match the office they talk to.
set(_uno_gen ${CMAKE_BINARY_DIR}/uno_headers)
add_custom_command(
  OUTPUT ${_uno_gen}/stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_uno_gen}/com
  COMMAND ${DL_CPPUMAKER} -O${_uno_gen} ${_lo_types}
  COMMAND ${CMAKE_COMMAND} -E touch ${_uno_gen}/stamp
  DEPENDS ${_lo_types}
  COMMENT "Generating UNO headers with cppumaker"
  VERBATIM)
add_custom_target(dl_uno_headers DEPENDS ${_uno_gen}/stamp)

set(_uno_libs)
foreach(lib uno_cppu uno_cppuhelpergcc3 uno_sal uno_salhelpergcc3)
  find_library(DL_LIB_${lib} ${lib} HINTS ${DL_LO_SDK_DIR}/lib ${DL_LO_PROGRAM_DIR} NO_DEFAULT_PATH)
  list(APPEND _uno_libs ${DL_LIB_${lib}})
endforeach()

dl_library(dl_platform_libreoffice
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/edited_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/engine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/engine_documents.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/engine_editing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/excel_server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/format_sniffer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/import_filters.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/office_process.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/pdf_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/powerpoint_server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/server_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/servers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/uno_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/web_page_layout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/libreoffice/word_server.cpp
  DEPENDS dl_platform_automation dl_platform_codepage dl_base Threads::Threads)
add_dependencies(dl_platform_libreoffice dl_uno_headers)
# The UNO headers are third-party code: include them as system headers so
# that their warnings do not drown ours.
target_include_directories(dl_platform_libreoffice SYSTEM PRIVATE ${DL_UNO_INCLUDE_DIR} ${_uno_gen})
target_compile_definitions(dl_platform_libreoffice PRIVATE UNX GCC LINUX CPPU_ENV=gcc3
  DL_LO_PROGRAM_DIR="${DL_LO_PROGRAM_DIR}")
target_link_libraries(dl_platform_libreoffice PRIVATE ${_uno_libs})
# The UNO runtime libraries carry versioned names that live only in the
# office's program folder.
target_link_options(dl_platform_libreoffice INTERFACE "LINKER:-rpath,${DL_LO_PROGRAM_DIR}")
