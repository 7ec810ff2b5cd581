# Run as a script after uic: each icon of the generated form code is made by
# BundleImages::icon() from its first file instead of by adding that file to
# an empty QIcon, which has Qt read the file against its whole file-type
# database to choose an engine (the form's image paths have no suffix).
# Further files of an icon are still added with addFile().
#   cmake -DIN=<uic output> -DOUT=<header> -P FormIcons.cmake
file(READ "${IN}" code)
set(first_file "QIcon (icon[0-9]*);\n( *)icon[0-9]*\\.addFile\\(")
string(REGEX MATCHALL "${first_file}" made "${code}")
string(REGEX REPLACE "${first_file}" "QIcon \\1 = BundleImages::icon(" code "${code}")
string(FIND "${code}" ".addFile(" left)
if(NOT made AND left GREATER -1)
    message(WARNING "FormIcons.cmake: no icon declarations found in ${IN}; "
                    "the form's icons keep Qt's own way of choosing an engine")
endif()
string(REPLACE "#include <QtGui/QIcon>\n" "#include <QtGui/QIcon>\n#include \"resources/bundleimages.h\"\n" code "${code}")
file(WRITE "${OUT}.tmp" "${code}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
