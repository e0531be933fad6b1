# Copies the text file INPUT to OUTPUT with "\r\n" line ends.
#   cmake -DINPUT=file -DOUTPUT=file -P windows_line_ends.cmake
file(READ ${INPUT} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
