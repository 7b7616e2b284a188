// Reading a text file the way a line reader with a fixed buffer does: in
// pieces of at most a fixed number of characters, each ending after a line
// break or when the buffer is full, so a longer line arrives as several
// pieces. Shared by the readers of the device configuration file and of the
// model description files, and by the model file scrambler.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace kxsane {

// The length of the piece that begins `text`: up to and including its first
// line break, and at most `max` characters.
inline std::size_t piece_length(std::string_view text, std::size_t max) {
  const std::size_t room = std::min(max, text.size());
  const void* line_break = std::memchr(text.data(), '\n', room);
  if (line_break == nullptr)
    return room;
  return static_cast<std::size_t>(static_cast<const char*>(line_break) - text.data()) + 1;
}

// The size of the file behind `file` in bytes, for readers that reserve
// room by it; 0 when it is not known (a pipe, a stream in memory).
inline std::size_t file_size_hint(std::FILE* file) {
  struct stat st {};
  if (::fstat(fileno(file), &st) != 0 || st.st_size <= 0)
    return 0;
  return static_cast<std::size_t>(st.st_size);
}

// Makes room in `values` for `more` values beyond those it holds, so that a
// reader filling it by a file's size never copies it as it grows (measured
// in bench/README.md). Only a hint: when the memory is not there, nothing
// changes and reading goes on without it.
template <typename Vector>
void reserve_hint(Vector& values, std::size_t more) noexcept {
  try {
    values.reserve(values.size() + more);
  } catch (const std::bad_alloc&) {
    // Reading grows the storage as it needs.
  }
}

// Calls `handle(piece, length)` for every piece of at most `PieceMax`
// characters of `file`, NUL-terminated, where `length` is what a C-string
// reader sees of it: a NUL byte inside a piece ends it. `handle` may change
// the piece's characters in place but not write past its terminator; it
// returns false to stop reading. A read error ends the pieces too: the
// caller tells it from the end of the file by ferror().
// The same pieces as fgets() with a buffer of PieceMax + 1, handed over
// where they lie in the read buffer (measured in bench/README.md).
template <std::size_t PieceMax, typename Handle>
void read_pieces(std::FILE* file, Handle handle) {
  constexpr std::size_t kChunkSize = std::size_t{1} << 16;
  // One byte more, for the terminator of a piece that ends the chunk.
  const auto chunk = std::make_unique_for_overwrite<char[]>(kChunkSize + 1);
  // A piece split between two reads is gathered here.
  char carried[PieceMax + 1];
  std::size_t carried_length = 0;
  std::size_t got = 0;
  while ((got = std::fread(chunk.get(), 1, kChunkSize, file)) > 0) {
    const bool holds_nul = std::memchr(chunk.get(), '\0', got) != nullptr;
    for (std::size_t i = 0; i < got;) {
      char* start = chunk.get() + i;
      const std::size_t take = piece_length({start, got - i}, PieceMax - carried_length);
      i += take;
      const bool complete = start[take - 1] == '\n' || carried_length + take == PieceMax;
      if (!complete || carried_length > 0) {
        std::memcpy(carried + carried_length, start, take);
        carried_length += take;
        if (!complete)
          continue;
        carried[carried_length] = '\0';
        carried_length = 0;
        if (!handle(carried, std::strlen(carried)))
          return;
        continue;
      }
      const char saved = start[take];
      start[take] = '\0';
      const bool go_on = handle(start, holds_nul ? strnlen(start, take) : take);
      start[take] = saved;
      if (!go_on)
        return;
    }
  }
  if (carried_length > 0) {
    carried[carried_length] = '\0';
    handle(carried, std::strlen(carried));
  }
}

}  // namespace kxsane
