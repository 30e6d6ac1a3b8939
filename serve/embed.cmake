# cmake -DINPUT=page.html -DOUTPUT=page.cpp -P embed.cmake: the bytes of the
# page as a C++ array, so that the binary needs no file beside it.
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${bytes}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n" body "${body}")
file(WRITE ${OUTPUT}.tmp
    "// Made from serve/page.html by serve/embed.cmake.\n"
    "extern const char vm_serve_page[] = {\n${body}0};\n"
    "extern const unsigned long vm_serve_page_size = ${size};\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
