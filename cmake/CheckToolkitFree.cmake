# cmake -DSOURCE_DIR=... -DLIST_FILE=... -P CheckToolkitFree.cmake
# Fails, naming every offending file and line, when a file listed in LIST_FILE (one path a
# line) includes a Qt header: <QWidget>, <QtCore/QString>, <qglobal.h>, or the same in quotes.
file(STRINGS ${LIST_FILE} _files)
set(_qt_include "^[ \t]*#[ \t]*include[ \t]*[<\"](Qt[A-Za-z]*/)?(Q[A-Za-z0-9_]*|q[a-z0-9_]*\\.h)[>\"]")
set(_found "")
foreach(_file ${_files})
  file(STRINGS ${_file} _lines REGEX "${_qt_include}")
  foreach(_line ${_lines})
    file(RELATIVE_PATH _name ${SOURCE_DIR} ${_file})
    string(STRIP "${_line}" _line)
    string(APPEND _found "\n  ${_name}: ${_line}")
  endforeach()
endforeach()
if(_found)
  message(FATAL_ERROR "Qt included outside gui/ (only the Qt view may include the toolkit):${_found}")
endif()
