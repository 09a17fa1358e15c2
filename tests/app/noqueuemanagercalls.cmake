# Fails when the window, its parts or a dialog uses the queue manager itself
# instead of the queue driver's commands and the account. Run as
#   cmake -DROOT=<source folder> -P noqueuemanagercalls.cmake
file(GLOB files "${ROOT}/app/*.cpp" "${ROOT}/app/*.h" "${ROOT}/dialogs/*.cpp" "${ROOT}/dialogs/*.h")
# The start-up sequence makes the queue manager; it is no widget.
list(FILTER files EXCLUDE REGEX "/app/main\\.cpp$")
set(found "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "[qQ]ueueManager(->|\\.)[a-zA-Z]|QueueManager::|pipeline/queuemanager\\.h")
  foreach(line IN LISTS lines)
    string(APPEND found "\n${file}: ${line}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "queue-manager calls outside the driver:${found}")
endif()
