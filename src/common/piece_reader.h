// Reading a text file the way a line reader with a fixed buffer does: in
// pieces of at most a fixed number of characters, each ending after a line
// break or when the buffer is full, so a longer line arrives as several
// pieces. Shared by the readers of the device configuration file and of the
// model description files.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kxsane {

// Calls `handle(piece)` for every piece of at most `PieceMax` characters of
// `file`, NUL-terminated in a buffer with `Slack` spare bytes behind the
// terminator (room to expand a piece in place). A NUL byte inside a piece
// ends what a C-string reader of it sees. `handle` returns false to stop
// reading.
template <std::size_t PieceMax, std::size_t Slack = 0, typename Handle>
void read_pieces(std::FILE* file, Handle handle) {
  constexpr std::size_t kChunkSize = std::size_t{1} << 16;
  const auto chunk = std::make_unique_for_overwrite<char[]>(kChunkSize);
  char piece[PieceMax + 1 + Slack];
  std::size_t length = 0;
  std::size_t got = 0;
  while ((got = std::fread(chunk.get(), 1, kChunkSize, file)) > 0) {
    for (std::size_t i = 0; i < got;) {
      const std::size_t room = std::min(PieceMax - length, got - i);
      const void* line_break = std::memchr(chunk.get() + i, '\n', room);
      const std::size_t take =
          line_break != nullptr
              ? static_cast<std::size_t>(static_cast<const char*>(line_break) - (chunk.get() + i)) +
                    1
              : room;
      std::memcpy(piece + length, chunk.get() + i, take);
      length += take;
      i += take;
      if (line_break != nullptr || length == PieceMax) {
        piece[length] = '\0';
        length = 0;
        if (!handle(piece))
          return;
      }
    }
  }
  if (length > 0) {
    piece[length] = '\0';
    handle(piece);
  }
}

}  // namespace kxsane
