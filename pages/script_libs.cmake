# Copies the files the script pages load from the installed npm packages into
# the program folder's lib/, and nothing else (the folder is emptied first, so
# a file dropped from this list does not linger). The basemap's land data is
# made from world-atlas by land_data.js afterwards. Run at build time:
#   cmake -DMODULES=<node_modules> -DOUT=<program folder>/lib -P script_libs.cmake
if(NOT MODULES OR NOT OUT)
  message(FATAL_ERROR "script_libs.cmake: MODULES and OUT are required")
endif()
# package/file -> lib/<destination>
set(files
  "leaflet/dist/leaflet.js|leaflet/leaflet.js"
  "leaflet/dist/leaflet.css|leaflet/leaflet.css"
  "leaflet/LICENSE|leaflet/LICENSE"
  "uplot/dist/uPlot.iife.min.js|uplot/uPlot.iife.min.js"
  "uplot/dist/uPlot.min.css|uplot/uPlot.min.css"
  "uplot/LICENSE|uplot/LICENSE"
  "world-atlas/LICENSE|world-atlas/LICENSE")
file(REMOVE_RECURSE "${OUT}")
foreach(entry ${files})
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(NOT EXISTS "${MODULES}/${from}")
    message(FATAL_ERROR "script_libs.cmake: ${MODULES}/${from} is missing (package-lock.json changed?)")
  endif()
  get_filename_component(dir "${OUT}/${to}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  configure_file("${MODULES}/${from}" "${OUT}/${to}" COPYONLY)
endforeach()
