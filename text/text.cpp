#include "text/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

size_t TextLength(const char* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n] != '\0') ++n;
  return n;
}

int CopyText(char* dst, size_t size, const char* src) {
  if (size == 0) return 0;
  size_t n = TextLength(src, size);
  int whole = n < size;
  if (!whole) n = Cp932CutLength(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
  return whole;
}

int CopyPrintable(char* dst, size_t size, const char* src) {
  int whole = CopyText(dst, size, src);
  for (char* c = dst; *c != '\0'; ++c) {
    unsigned char byte = (unsigned char)*c;
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) *c = '?';
  }
  return whole;
}

// vsnprintf differs between C runtimes in what it returns and whether it
// terminates a cut text, so the outcome is judged from the buffer alone.
static int FormatAt(char* dst, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  dst[0] = '\0';
  int n = vsnprintf(dst, size, format, args);
  dst[size - 1] = '\0';
  return n >= 0 && (size_t)n < size;
}

int FormatText(char* dst, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int whole = FormatAt(dst, size, format, args);
  va_end(args);
  return whole;
}

int AppendText(char* dst, size_t size, const char* format, ...) {
  if (size == 0) return 0;
  size_t used = TextLength(dst, size);
  if (used >= size) {
    dst[size - 1] = '\0';
    return 0;
  }
  va_list args;
  va_start(args, format);
  int whole = FormatAt(dst + used, size - used, format, args);
  va_end(args);
  return whole;
}

int IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

size_t Cp932CutLength(const char* s, size_t maxBytes) {
  size_t i = 0;
  while (i < maxBytes && s[i] != '\0') {
    size_t step = IsCp932LeadByte((unsigned char)s[i]) && s[i + 1] != '\0' ? 2 : 1;
    if (i + step > maxBytes) break;
    i += step;
  }
  return i;
}
