// Bounded text handling over the tool's fixed-size code page 932 buffers.
// Every function here writes at most `size` bytes, NUL included, and always
// leaves a NUL-terminated text behind.
#pragma once

#include <stddef.h>

#ifdef __GNUC__
#define TAVO_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define TAVO_PRINTF(fmt, first)
#endif

// Length of s, looking at no more than max bytes.
size_t TextLength(const char* s, size_t max);

// Copies src into dst; 1 when it fitted whole, 0 when it was cut.
int CopyText(char* dst, size_t size, const char* src);

// Formats into dst from its start; 1 when the result fitted whole, 0 when
// it was cut (dst then holds as much as fitted).
int FormatText(char* dst, size_t size, const char* format, ...) TAVO_PRINTF(3, 4);

// Formats where the text in dst ends, bounded by the room left in dst.
int AppendText(char* dst, size_t size, const char* format, ...) TAVO_PRINTF(3, 4);

// Copies src like CopyText, with every control character but TAB (bytes
// 0x01-0x1F and 0x7F, which code page 932 never uses inside a two-byte
// character) replaced by '?': a text read from the machine then cannot break
// the line it is shown in.
int CopyPrintable(char* dst, size_t size, const char* src);

// 1 when byte c can start a two-byte code page 932 character.
int IsCp932LeadByte(unsigned char c);

// The largest length <= maxBytes at which s can be cut without splitting a
// two-byte character.
size_t Cp932CutLength(const char* s, size_t maxBytes);
