# SPDX-License-Identifier: MIT
# Writes a C++ source that defines the bytes of a text file as a NUL-terminated
# array, so a data file is built into a library without a hand-kept copy.
#   cmake -DIN=FILE -DOUT=SOURCE -DNAMESPACE=NS -DNAME=SYMBOL -P EmbedText.cmake
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
  bytes "${bytes}")
file(WRITE "${OUT}.new"
  "// Generated from ${IN} by cmake/EmbedText.cmake; edit that file, not this one.\n"
  "namespace ${NAMESPACE} {\n"
  "extern const char ${NAME}[];\n"
  "const char ${NAME}[] = {\n${bytes}0x00};\n"
  "}  // namespace ${NAMESPACE}\n")
file(RENAME "${OUT}.new" "${OUT}")
