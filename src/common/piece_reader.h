// Reading a text file the way a line reader with a fixed buffer does: in
// pieces of at most a fixed number of characters, each ending after a line
// break or when the buffer is full, so a longer line arrives as several
// pieces. Shared by the readers of the device configuration file and of the
// model description files.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kxsane {

// The size of the file behind `file` in bytes, for readers that reserve
// room by it; 0 when it is not known (a pipe, a stream in memory).
inline std::size_t file_size_hint(std::FILE* file) {
  struct stat st {};
  if (::fstat(fileno(file), &st) != 0 || st.st_size <= 0)
    return 0;
  return static_cast<std::size_t>(st.st_size);
}

// Bytes after each piece's terminator that `handle` may read (never
// write): scanners may then load a word, or copy a whole field, at once.
inline constexpr std::size_t kPieceReadSlack = 64;

// Calls `handle(piece, length)` for every piece of at most `PieceMax`
// characters of `file`, NUL-terminated, where `length` is what a C-string
// reader sees of it: a NUL byte inside a piece ends it. `handle` may change
// the piece's characters in place but not write past its terminator; it
// returns false to stop reading. Pieces are handed over where they lie in
// the read buffer; only a piece split between two reads is copied.
template <std::size_t PieceMax, typename Handle>
void read_pieces(std::FILE* file, Handle handle) {
  constexpr std::size_t kChunkSize = std::size_t{1} << 16;
  // One byte more, for the terminator of a piece that ends the chunk.
  const auto chunk = std::make_unique_for_overwrite<char[]>(kChunkSize + 1 + kPieceReadSlack);
  // The start of a piece split between reads.
  char carried[PieceMax + 1 + kPieceReadSlack] = {};
  std::size_t carried_length = 0;
  std::size_t got = 0;
  while ((got = std::fread(chunk.get(), 1, kChunkSize, file)) > 0) {
    // What may be read past the last piece is defined.
    std::memset(chunk.get() + got, 0, 1 + kPieceReadSlack);
    // A piece's length is known from where it ends, unless a NUL byte of
    // the file cuts it short.
    const bool holds_nul = std::memchr(chunk.get(), '\0', got) != nullptr;
    for (std::size_t i = 0; i < got;) {
      const std::size_t room = std::min(PieceMax - carried_length, got - i);
      char* start = chunk.get() + i;
      const void* line_break = std::memchr(start, '\n', room);
      const std::size_t take =
          line_break != nullptr
              ? static_cast<std::size_t>(static_cast<const char*>(line_break) - start) + 1
              : room;
      i += take;
      const bool complete = line_break != nullptr || carried_length + take == PieceMax;
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
