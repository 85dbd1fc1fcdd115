# One static library per folder of src/ (a folder's widgets in a library of their own), each
# linking only the libraries below it. A library's headers are reached through an include root of
# its own, <build>/include/<library>/<folder>/, holding links to that library's headers alone: a
# source sees the headers of its library and of the libraries it links, and an include of any
# other header of src/ fails to compile ("No such file or directory").

set(TARVIK_INCLUDE_ROOT ${PROJECT_BINARY_DIR}/include)

# tarvik_library(name [WIDGETS] [LINKS library...]): a library of the current folder of src/.
# WIDGETS: the folder's widget part (Qt Widgets, PrintSupport and Svg), else a GUI-free part.
# LINKS: the libraries below it that it uses. A header without a source of its own (an interface,
# constants) belongs to the folder's first GUI-free library.
function(tarvik_library name)
  cmake_parse_arguments(arg "WIDGETS" "" "LINKS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  add_library(${name} STATIC)
  set_target_properties(${name} PROPERTIES TARVIK_FOLDER ${folder})
  target_include_directories(${name} PUBLIC ${TARVIK_INCLUDE_ROOT}/${name})
  target_link_libraries(${name} PUBLIC ${arg_LINKS})
  if(arg_WIDGETS)
    target_link_libraries(${name} PUBLIC Qt6::Gui Qt6::Widgets Qt6::PrintSupport Qt6::Svg)
    set_property(GLOBAL APPEND PROPERTY TARVIK_WIDGET_LIBRARIES ${name})
  else()
    set_property(GLOBAL APPEND PROPERTY TARVIK_GUI_FREE_LIBRARIES ${name})
    get_property(home GLOBAL PROPERTY TARVIK_HEADER_HOME_${folder})
    if(NOT home)
      set_property(GLOBAL PROPERTY TARVIK_HEADER_HOME_${folder} ${name})
    endif()
  endif()
  set_property(GLOBAL APPEND PROPERTY TARVIK_LIBRARIES ${name})
  tarvik_warnings(${name})
endfunction()

function(tarvik_link_header root header)
  get_filename_component(folder ${header} DIRECTORY)
  get_filename_component(file ${header} NAME)
  file(MAKE_DIRECTORY ${root}/${folder})
  if(CMAKE_HOST_WIN32)
    # No symbolic links without privileges: a one-line header that includes the real one.
    file(WRITE ${root}/${header} "#include \"${PROJECT_SOURCE_DIR}/src/${header}\"\n")
  else()
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${header} ${root}/${header} SYMBOLIC)
  endif()
endfunction()

# Called once every library is defined: gives each library its headers (listed with it, so that
# AUTOMOC sees every Q_OBJECT header), its include root, its precompiled headers and unity build.
function(tarvik_finish_libraries)
  get_property(libs GLOBAL PROPERTY TARVIK_LIBRARIES)
  set(claimed)
  foreach(lib IN LISTS libs)
    get_target_property(folder ${lib} TARVIK_FOLDER)
    get_target_property(sources ${lib} SOURCES)
    set(headers)
    foreach(source IN LISTS sources)
      if(NOT IS_ABSOLUTE "${source}")
        set(source ${PROJECT_SOURCE_DIR}/src/${folder}/${source})
      endif()
      string(REGEX REPLACE "\\.(cpp|h)$" ".h" header "${source}")
      get_filename_component(dir "${header}" DIRECTORY)
      if(header MATCHES "\\.h$" AND dir STREQUAL "${PROJECT_SOURCE_DIR}/src/${folder}"
         AND EXISTS "${header}")
        get_filename_component(file "${header}" NAME)
        list(APPEND headers ${folder}/${file})
        if(NOT header STREQUAL source)
          target_sources(${lib} PRIVATE "${header}")
        endif()
      endif()
    endforeach()
    list(REMOVE_DUPLICATES headers)
    set(headers_${lib} ${headers})
    list(APPEND claimed ${headers})
  endforeach()
  # Headers no source claims go to their folder's GUI-free library.
  file(GLOB all_headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/src
    ${PROJECT_SOURCE_DIR}/src/*/*.h)
  foreach(header IN LISTS all_headers)
    if(NOT header IN_LIST claimed)
      get_filename_component(folder ${header} DIRECTORY)
      get_property(home GLOBAL PROPERTY TARVIK_HEADER_HOME_${folder})
      if(home)
        list(APPEND headers_${home} ${header})
      endif()
    endif()
  endforeach()
  foreach(lib IN LISTS libs)
    # Afresh each time: a header that moved to another library leaves no link behind.
    set(root ${TARVIK_INCLUDE_ROOT}/${lib})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(header IN LISTS headers_${lib})
      tarvik_link_header(${root} ${header})
    endforeach()
    # The aggregates are for tests, benchmarks and tools: a library linking one would see all.
    get_target_property(links ${lib} LINK_LIBRARIES)
    if(links AND ("tarvik_core" IN_LIST links OR "tarvik_ui" IN_LIST links))
      message(FATAL_ERROR "${lib} links an aggregate (tarvik_core, tarvik_ui): link the "
        "libraries of the floors below instead")
    endif()
  endforeach()

  # Precompiled headers: the GUI-free libraries on QtCore share tarvik_base's, the widget
  # libraries tarvik_base_ui's (each group is compiled with the same options). Libraries on
  # other modules (the device layer without Qt, the sheet and the CLI on QtGui) go without.
  get_property(gui_free GLOBAL PROPERTY TARVIK_GUI_FREE_LIBRARIES)
  get_property(widgets GLOBAL PROPERTY TARVIK_WIDGET_LIBRARIES)
  set(own_pch tarvik_serial_device tarvik_sheet tarvik_cli)
  foreach(lib IN LISTS gui_free widgets)
    if(lib IN_LIST own_pch)
      continue()
    endif()
    set_target_properties(${lib} PROPERTIES AUTOMOC ON)
    if(lib STREQUAL "tarvik_base")
      tarvik_precompile(${lib} PRIVATE ${TARVIK_PCH_CORE})
    elseif(lib STREQUAL "tarvik_base_ui")
      tarvik_precompile(${lib} PRIVATE ${TARVIK_PCH_WIDGETS})
    elseif(lib IN_LIST widgets)
      tarvik_precompile(${lib} REUSE_FROM tarvik_base_ui)
    else()
      tarvik_precompile(${lib} REUSE_FROM tarvik_base)
    endif()
  endforeach()
  foreach(lib tarvik_sheet tarvik_cli)
    if(TARGET ${lib})
      set_target_properties(${lib} PROPERTIES AUTOMOC ON)
    endif()
  endforeach()

  # With TARVIK_UNITY the libraries compile six sources to a unit: a clean build parses the
  # headers they share once per unit, and a change to one source still recompiles only its unit.
  # (The device layer stays out: its kernel termios must not meet the C library's.)
  if(TARVIK_UNITY)
    foreach(lib IN LISTS libs)
      if(NOT lib STREQUAL "tarvik_serial_device")
        set_target_properties(${lib} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
      endif()
    endforeach()
  endif()
endfunction()
