// Text for people, as the messages are. Each system has its own
// implementation (text_output_posix.cpp, text_output_windows.cpp), chosen
// by the build.
#pragma once

#include <cstddef>
#include <cstdio>

// The most bytes of a message gathered before they are written (a longer
// message, with a long name in it, goes out in pieces of this size).
constexpr std::size_t message_piece_bytes = 1024;

// Writes count bytes of UTF-8 text to stream. On a Windows console the text
// is shown as the characters it encodes, whatever the console's code page;
// anywhere else the bytes go out as they are (with "\r\n" for "\n" where
// the stream is a Windows text stream, as the standard error stream is).
void write_text(std::FILE* stream, const char* bytes, std::size_t count);
