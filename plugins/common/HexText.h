// Hexadecimal text of a data word for the unpackers' messages, as printf's
// "%x" (or "%0Nx") writes it, without the cost of parsing a format for each
// odd word of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace hextext {

// Writes v in lower-case hexadecimal, at least minDigits digits (zero-padded),
// at p and returns the end; p needs room for 8 characters.
inline char* put(char* p, uint32_t v, int minDigits) {
  static const char digits[] = "0123456789abcdef";
  char reversed[8];
  int n = 0;
  do {
    reversed[n++] = digits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  while (n < minDigits) reversed[n++] = '0';
  while (n > 0) *p++ = reversed[--n];
  return p;
}

// Writes prefix, v as put() gives it and a new line to standard output.
template <size_t N>
void printLine(const char (&prefix)[N], uint32_t v, int minDigits) {
  char line[N + 9];
  char* p = line;
  for (size_t i = 0; i + 1 < N; ++i) *p++ = prefix[i];
  p = put(p, v, minDigits);
  *p++ = '\n';
  std::fwrite(line, 1, static_cast<size_t>(p - line), stdout);
}

}  // namespace hextext
