# The product banner of a resource script, drawn at build time as a 16-colour
# bitmap: telvor_banner(<rc file> <bitmap path> <width> <height> <text>).
# The script names the bitmap by its file name and finds it through the
# include path of its target (the build folder).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TELVOR_BANNER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/banner.py)

function(telvor_banner rc_file bitmap width height text)
  add_custom_command(
    OUTPUT ${bitmap}
    COMMAND Python3::Interpreter ${TELVOR_BANNER_SCRIPT} ${bitmap} ${width} ${height} ${text}
    DEPENDS ${TELVOR_BANNER_SCRIPT}
    COMMENT "Drawing the banner ${bitmap}"
    VERBATIM)
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${bitmap})
endfunction()
