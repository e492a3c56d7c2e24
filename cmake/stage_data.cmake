# Copies the shipped data folder beside the executables. Rule files, templates and pages are
# refreshed on every build; files under Config/ are the user's state (bookshelf, site
# selection, last search) and are copied only when missing, so a rebuild never empties them.
#   cmake -DSOURCE=<data folder> -DDESTINATION=<program folder> -P stage_data.cmake

file(GLOB_RECURSE shipped RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(relative IN LISTS shipped)
  set(target ${DESTINATION}/${relative})
  if(relative MATCHES "^Config/" AND EXISTS ${target})
    continue()
  endif()
  get_filename_component(folder ${target} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(COPY_FILE ${SOURCE}/${relative} ${target} ONLY_IF_DIFFERENT)
endforeach()
